#pragma once

#include <QMetaObject>
#include <QString>

class ActivityLog;
class FileChooser;
class LiveSettings;
class PadDriver;

// The pad's enable switch (the QP6100 device box), its connection commands and the form
// helpers every pad operation uses. The QP6100 menu's enabled states live in the live
// settings, so a window can show them.
class PadConnection
{
public:
    // Runs the device box's handler whenever the box changes or is clicked.
    PadConnection(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                  FileChooser& fileChooser);
    ~PadConnection();
    PadConnection(const PadConnection&) = delete;
    PadConnection& operator=(const PadConnection&) = delete;

    // True when the device box is ticked; logs "QP6100: Device is Not Enabled" when it is not
    // and `logIfDisabled` is set.
    bool pad_enabled(bool logIfDisabled);
    // Puts a form on the pad's screen; a refusal is only logged.
    void show_pad_form(const QString& name);
    // Shows the welcome form on an enabled pad; leaves a disabled pad alone.
    void pad_welcome();

    // The QP6100 menu's commands and the device box's handler. Driver failures go to the
    // caller.
    void mnuQP6100Connect_Click();
    void mnuQP6100Disconnect_Click();
    void mnuQP6100LoadScript_Click();
    void chkQP6100Device_Click();

    // The same commands as event handlers: a driver failure is logged instead of escaping
    // into the event loop.
    void runConnect();
    void runDisconnect();
    void runLoadScript();

private:
    void setMenuOpen(bool open);
    enum class CloseResult { WasClosed, Closed, StillOpen };
    // Closes an open port after showing the disconnect form.
    CloseResult closeOpenPort();
    void runGuarded(const QString& command, void (PadConnection::*handler)());

    PadDriver& m_driver;
    LiveSettings& m_settings;
    ActivityLog& m_log;
    FileChooser& m_fileChooser;
    QMetaObject::Connection m_boxConnection;
};
