#pragma once

#include <functional>

#include <QObject>
#include <QString>
#include <QStringList>

#include "core/windowfields.h"

// The settings window's fields as one model, loaded from the settings file's window sections
// at start-up and saved back by "Save Settings": the parts of the server read a field when they
// act, and the window (when there is one) binds its controls to the same fields. Every setter
// announces a change of value with `changed`, so the window never shows a stale field. A device
// box's click handler is this model's reaction to the box changing state, so it runs the same
// way with and without a window.
class LiveSettings : public QObject
{
    Q_OBJECT

public:
    // States of a device check box, stored as "0", "1" and "2".
    enum CheckState { Unticked = 0, Ticked = 1, Greyed = 2 };

    explicit LiveSettings(QObject* parent = nullptr);

    // The window's fields as they stand now, section by section.
    const WindowFields& fields() const { return m_fields; }
    const LocalFields& local() const { return m_fields.local; }
    const FtpSettings& ftp() const { return m_fields.ftp; }
    const PinPadFields& pinPad() const { return m_fields.pinPad; }
    // Form load: shows `stored` in the window's order, the QP6100 box first, then the serial
    // port scan, then the 1000SE box and its fields, then runs both boxes' click handlers.
    void load(const WindowFields& stored, const std::function<void()>& list_comm_ports);

    QString txtSockport() const { return m_fields.local.sockport; }
    QString txtFtpUrl() const { return m_fields.ftp.url; }
    QString txtFtpUsername() const { return m_fields.ftp.user; }
    QString txtFtpPassword() const { return m_fields.ftp.password; }
    QString cbo1000SECommPort() const { return m_fields.pinPad.commPort; }
    QString cbo1000SEBaudRate() const { return m_fields.pinPad.baudRate; }
    QString txt1000SEParity() const { return m_fields.pinPad.parity; }
    QString txt1000SEDataBits() const { return m_fields.pinPad.dataBits; }
    QString txt1000SEEncryption() const { return m_fields.pinPad.encryption; }
    void setTxtSockport(const QString& text) { assign(m_fields.local.sockport, text); }
    void setTxtFtpUrl(const QString& text) { assign(m_fields.ftp.url, text); }
    void setTxtFtpUsername(const QString& text) { assign(m_fields.ftp.user, text); }
    void setTxtFtpPassword(const QString& text) { assign(m_fields.ftp.password, text); }
    void setCbo1000SECommPort(const QString& text) { assign(m_fields.pinPad.commPort, text); }
    void setCbo1000SEBaudRate(const QString& text) { assign(m_fields.pinPad.baudRate, text); }
    void setTxt1000SEParity(const QString& text) { assign(m_fields.pinPad.parity, text); }
    void setTxt1000SEDataBits(const QString& text) { assign(m_fields.pinPad.dataBits, text); }
    void setTxt1000SEEncryption(const QString& text) { assign(m_fields.pinPad.encryption, text); }

    // The Comm Port list's entries, refilled by the serial port scan.
    QStringList commPortList() const { return m_commPortList; }
    void setCommPortList(const QStringList& ports) { assign(m_commPortList, ports); }

    int chkQP6100Device() const { return m_fields.qp6100.device; }
    int chk1000SEDevice() const { return m_fields.pinPad.device; }
    // Changing a box's state runs its click handler, as a click on the box would.
    void setChkQP6100Device(int state);
    void setChk1000SEDevice(int state);
    // Runs a box's click handler with its current state.
    void clickChkQP6100Device() { Q_EMIT chkQP6100DeviceClick(); }
    void clickChk1000SEDevice() { Q_EMIT chk1000SEDeviceClick(); }

    // Enabled states of the QP6100 menu's commands; all start disabled until the device box's
    // handler puts the menu into its open or closed state.
    bool mnuQP6100Connect() const { return m_mnuQP6100Connect; }
    bool mnuQP6100Disconnect() const { return m_mnuQP6100Disconnect; }
    bool mnuQP6100PadForms() const { return m_mnuQP6100PadForms; }
    bool mnuQP6100LoadScript() const { return m_mnuQP6100LoadScript; }
    void setMnuQP6100Connect(bool enabled) { assign(m_mnuQP6100Connect, enabled); }
    void setMnuQP6100Disconnect(bool enabled) { assign(m_mnuQP6100Disconnect, enabled); }
    void setMnuQP6100PadForms(bool enabled) { assign(m_mnuQP6100PadForms, enabled); }
    void setMnuQP6100LoadScript(bool enabled) { assign(m_mnuQP6100LoadScript, enabled); }

    // Whether the five 1000SE parameter fields accept input.
    bool fields1000SEEnabled() const { return m_fields1000SEEnabled; }
    void setFields1000SEEnabled(bool enabled) { assign(m_fields1000SEEnabled, enabled); }

Q_SIGNALS:
    void chkQP6100DeviceClick();
    void chk1000SEDeviceClick();
    // A field took a new value; the window shows the fields again.
    void changed();

private:
    template <typename T> void assign(T& field, const T& value)
    {
        if (field == value)
            return;
        field = value;
        Q_EMIT changed();
    }

    WindowFields m_fields;
    QStringList m_commPortList;
    bool m_mnuQP6100Connect = false;
    bool m_mnuQP6100Disconnect = false;
    bool m_mnuQP6100PadForms = false;
    bool m_mnuQP6100LoadScript = false;
    bool m_fields1000SEEnabled = false;
};
