#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The settings window's fields as one model: the parts of the server read a field when they
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

    QString txtSockport() const { return m_txtSockport; }
    QString txtFtpUrl() const { return m_txtFtpUrl; }
    QString txtFtpUsername() const { return m_txtFtpUsername; }
    QString txtFtpPassword() const { return m_txtFtpPassword; }
    QString cbo1000SECommPort() const { return m_cbo1000SECommPort; }
    QString cbo1000SEBaudRate() const { return m_cbo1000SEBaudRate; }
    QString txt1000SEParity() const { return m_txt1000SEParity; }
    QString txt1000SEDataBits() const { return m_txt1000SEDataBits; }
    QString txt1000SEEncryption() const { return m_txt1000SEEncryption; }
    void setTxtSockport(const QString& text) { assign(m_txtSockport, text); }
    void setTxtFtpUrl(const QString& text) { assign(m_txtFtpUrl, text); }
    void setTxtFtpUsername(const QString& text) { assign(m_txtFtpUsername, text); }
    void setTxtFtpPassword(const QString& text) { assign(m_txtFtpPassword, text); }
    void setCbo1000SECommPort(const QString& text) { assign(m_cbo1000SECommPort, text); }
    void setCbo1000SEBaudRate(const QString& text) { assign(m_cbo1000SEBaudRate, text); }
    void setTxt1000SEParity(const QString& text) { assign(m_txt1000SEParity, text); }
    void setTxt1000SEDataBits(const QString& text) { assign(m_txt1000SEDataBits, text); }
    void setTxt1000SEEncryption(const QString& text) { assign(m_txt1000SEEncryption, text); }

    // The QP6100's driver ("simulated" or "screen"), the screen the screen pad shows on (a
    // number from 0; empty is the last screen) and the input device of its card reader (empty:
    // the reader types into the pad window). Texts as stored.
    QString qp6100Driver() const { return m_qp6100Driver; }
    QString qp6100Screen() const { return m_qp6100Screen; }
    QString qp6100CardReader() const { return m_qp6100CardReader; }
    void setQp6100Driver(const QString& text) { assign(m_qp6100Driver, text); }
    void setQp6100Screen(const QString& text) { assign(m_qp6100Screen, text); }
    void setQp6100CardReader(const QString& text) { assign(m_qp6100CardReader, text); }
    // Settings of the file only, with no field in the window: who may connect, where the ports
    // listen, and the WebSocket port for browser tills. Read at start-up.
    QString allowFrom() const { return m_allowFrom; }
    QString bindAddress() const { return m_bindAddress; }
    QString webSocketPort() const { return m_webSocketPort; }
    QString webSocketOrigins() const { return m_webSocketOrigins; }
    QString webSocketCertFile() const { return m_webSocketCertFile; }
    QString webSocketKeyFile() const { return m_webSocketKeyFile; }
    void setAllowFrom(const QString& text) { assign(m_allowFrom, text); }
    void setBindAddress(const QString& text) { assign(m_bindAddress, text); }
    void setWebSocketPort(const QString& text) { assign(m_webSocketPort, text); }
    void setWebSocketOrigins(const QString& text) { assign(m_webSocketOrigins, text); }
    void setWebSocketCertFile(const QString& text) { assign(m_webSocketCertFile, text); }
    void setWebSocketKeyFile(const QString& text) { assign(m_webSocketKeyFile, text); }

    // The Comm Port list's entries, refilled by the serial port scan.
    QStringList commPortList() const { return m_commPortList; }
    void setCommPortList(const QStringList& ports) { assign(m_commPortList, ports); }

    int chkQP6100Device() const { return m_chkQP6100Device; }
    int chk1000SEDevice() const { return m_chk1000SEDevice; }
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

    QString m_txtSockport;
    QString m_txtFtpUrl;
    QString m_txtFtpUsername;
    QString m_txtFtpPassword;
    QString m_cbo1000SECommPort;
    QString m_cbo1000SEBaudRate;
    QString m_txt1000SEParity;
    QString m_txt1000SEDataBits;
    QString m_txt1000SEEncryption;
    QString m_qp6100Driver;
    QString m_qp6100Screen;
    QString m_qp6100CardReader;
    QString m_allowFrom;
    QString m_bindAddress;
    QString m_webSocketPort;
    QString m_webSocketOrigins;
    QString m_webSocketCertFile;
    QString m_webSocketKeyFile;
    QStringList m_commPortList;
    int m_chkQP6100Device = Unticked;
    int m_chk1000SEDevice = Unticked;
    bool m_mnuQP6100Connect = false;
    bool m_mnuQP6100Disconnect = false;
    bool m_mnuQP6100PadForms = false;
    bool m_mnuQP6100LoadScript = false;
    bool m_fields1000SEEnabled = false;
};
