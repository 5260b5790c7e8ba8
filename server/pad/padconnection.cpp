#include "pad/padconnection.h"

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "pad/filechooser.h"
#include "pad/paddriver.h"

PadConnection::PadConnection(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                             FileChooser& fileChooser)
    : m_driver(driver), m_settings(settings), m_log(log), m_fileChooser(fileChooser)
{
    m_boxConnection = QObject::connect(&m_settings, &LiveSettings::chkQP6100DeviceClick, [this] {
        runGuarded(QStringLiteral("Device"), &PadConnection::chkQP6100Device_Click);
    });
}

PadConnection::~PadConnection()
{
    QObject::disconnect(m_boxConnection);
}

bool PadConnection::pad_enabled(bool logIfDisabled)
{
    const bool enabled = m_settings.chkQP6100Device() == LiveSettings::Ticked;
    if (!enabled && logIfDisabled)
        m_log.log(QStringLiteral("QP6100: Device is Not Enabled"));
    return enabled;
}

void PadConnection::show_pad_form(const QString& name)
{
    qint16 status = 0;
    m_driver.ShowForm(name, status);
    if (status != 1)
        m_log.log(QStringLiteral("QP6100: Error Displaying ") + name);
}

void PadConnection::pad_welcome()
{
    if (pad_enabled(false))
        show_pad_form(PadForm::kWelcome);
}

void PadConnection::setMenuOpen(bool open)
{
    m_settings.setMnuQP6100Connect(!open);
    m_settings.setMnuQP6100Disconnect(open);
    m_settings.setMnuQP6100PadForms(open);
}

PadConnection::CloseResult PadConnection::closeOpenPort()
{
    qint16 open = 0;
    m_driver.IsPortOpen(open);
    if (open == 0)
        return CloseResult::WasClosed;
    show_pad_form(PadForm::kDisconnect);
    m_driver.ClosePort();
    m_driver.IsPortOpen(open);
    return open == -1 ? CloseResult::StillOpen : CloseResult::Closed;
}

void PadConnection::mnuQP6100Connect_Click()
{
    if (!pad_enabled(false))
        return;
    qint16 status = 0;
    m_driver.OpenPort(0, 0, status);
    if (status == 1) {
        setMenuOpen(true);
        show_pad_form(PadForm::kWelcome);
        m_log.log(QStringLiteral("QP6100: Port Opened"));
        return;
    }
    m_log.log(QStringLiteral("QP6100: Error Opening Port -- Error (") + QString::number(status) +
              QLatin1Char(')'));
    // Unticking the box runs its handler, which closes the port and sets the menu.
    m_settings.setChkQP6100Device(LiveSettings::Unticked);
    m_driver.ClosePort();
}

void PadConnection::mnuQP6100Disconnect_Click()
{
    if (!pad_enabled(false))
        return;
    switch (closeOpenPort()) {
    case CloseResult::WasClosed:
        m_log.log(QStringLiteral("QP6100: Port Already Closed"));
        break;
    case CloseResult::StillOpen:
        m_log.log(QStringLiteral("QP6100: Error Closing Port"));
        break;
    case CloseResult::Closed:
        m_log.log(QStringLiteral("QP6100: Port Closed"));
        break;
    }
    setMenuOpen(false);
}

void PadConnection::chkQP6100Device_Click()
{
    if (m_settings.chkQP6100Device() == LiveSettings::Ticked) {
        mnuQP6100Connect_Click();
        return;
    }
    if (closeOpenPort() == CloseResult::StillOpen)
        m_log.log(QStringLiteral("QP6100: Error Closing Signature Pad Comm Port."));
    setMenuOpen(false);
}

void PadConnection::mnuQP6100LoadScript_Click()
{
    if (!pad_enabled(true))
        return;
    // From the dialog on, a failing step does not stop the command.
    std::optional<QString> path;
    try {
        path = m_fileChooser.chooseFile(QStringLiteral("Load Signature Pad Script File"),
                                        QStringLiteral("Script Bin Files(*.bin)"),
                                        QStringLiteral("*.bin"));
    } catch (const Failure&) {
        return;
    }
    // A cancelled dialog counts as a dialog that could not be shown.
    if (!path)
        return;

    qint16 status = -1;
    try {
        m_driver.LoadScript(1, PadForm::kAutorun, *path, 38400, status);
    } catch (const Failure&) {
    }
    if (status == 1) {
        try {
            qint16 runStatus = 0;
            m_driver.RunForm(PadForm::kAutorun, QString(), runStatus);
        } catch (const Failure&) {
        }
        m_log.log(QStringLiteral("Load Script: Successful"));
    } else {
        m_log.log(QStringLiteral("Load Script: Error"));
    }
}

void PadConnection::runGuarded(const QString& command, void (PadConnection::*handler)())
{
    try {
        (this->*handler)();
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("QP6100: ") + command + QLatin1Char(' ') +
                  errorNumberText(failure.code()));
    }
}

void PadConnection::runConnect()
{
    runGuarded(QStringLiteral("Connect"), &PadConnection::mnuQP6100Connect_Click);
}

void PadConnection::runDisconnect()
{
    runGuarded(QStringLiteral("Disconnect"), &PadConnection::mnuQP6100Disconnect_Click);
}

void PadConnection::runLoadScript()
{
    runGuarded(QStringLiteral("Load Script"), &PadConnection::mnuQP6100LoadScript_Click);
}
