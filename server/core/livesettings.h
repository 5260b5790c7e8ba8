#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The settings window's fields as one model: the parts of the server read a field when they
// act, and the window (when there is one) binds its controls to the same fields. A device
// box's click handler is this model's reaction to the box changing state, so it runs the same
// way with and without a window.
class LiveSettings : public QObject
{
    Q_OBJECT

public:
    // States of a device check box, stored as "0", "1" and "2".
    enum CheckState { Unticked = 0, Ticked = 1, Greyed = 2 };

    explicit LiveSettings(QObject* parent = nullptr);

    QString txtSockport;
    QString txtFtpUrl;
    QString txtFtpUsername;
    QString txtFtpPassword;
    QString cbo1000SECommPort;
    QString cbo1000SEBaudRate;
    QString txt1000SEParity;
    QString txt1000SEDataBits;
    QString txt1000SEEncryption;
    // The Comm Port list's entries, refilled by the serial port scan.
    QStringList commPortList;

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
    bool mnuQP6100Connect = false;
    bool mnuQP6100Disconnect = false;
    bool mnuQP6100PadForms = false;
    bool mnuQP6100LoadScript = false;
    // Whether the five 1000SE parameter fields accept input.
    bool fields1000SEEnabled = false;

    // Tells the window that fields changed outside it, so it shows them again.
    void notifyChanged() { Q_EMIT changed(); }

Q_SIGNALS:
    void chkQP6100DeviceClick();
    void chk1000SEDeviceClick();
    void changed();

private:
    int m_chkQP6100Device = Unticked;
    int m_chk1000SEDevice = Unticked;
};
