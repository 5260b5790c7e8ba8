#include "shell/trayprogram.h"

#include <QApplication>
#include <QSessionManager>

#include "app/paymentserver.h"
#include "doors/websocketdoor.h"
#include "shell/aboutbox.h"
#include "shell/mainwindow.h"
#include "shell/trayicon.h"

TrayProgram::TrayProgram(PaymentServer& server, DesktopHost host)
    : m_server(server), m_host(std::move(host)),
      m_window(std::make_unique<MainWindow>(server.settings(), server.windowCommands(), m_host))
{
    if (qGuiApp) {
        QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, m_window.get(),
                         [this](QSessionManager& manager) { commitData(manager); });
    }
}

TrayProgram::~TrayProgram() = default;

StartupReport TrayProgram::start()
{
    const StartupReport report = m_server.start();
    m_window->show();
    if (!m_window->addTrayIcon()) {
        // Hidden into a notification area that is not there, the window could not be found.
        m_server.activityLog().log(
            QStringLiteral("Tray: no notification area; the window stays open"));
        return report;
    }
    showCertificateNotices();
    watchOutbox();
    if (!report.openToNetwork.isEmpty())
        m_host.tray.showMessage(QLatin1String(MainWindow::kTrayTip), report.openToNetwork);
    if (report.listening()) {
        m_window->set_tray_icon(true);
        return report;
    }
    // The window stays open, so that the port can be corrected and saved for the next start.
    m_host.tray.showMessage(
        QLatin1String(MainWindow::kTrayTip),
        QStringLiteral("Cannot listen on port [%1]: %2").arg(report.port, report.listenError));
    return report;
}

// The icon's tip says how many signature pictures wait for their upload, when any do.
void TrayProgram::watchOutbox()
{
    const auto show = [this] {
        const int waiting = m_server.outboxFigures().waiting;
        m_host.tray.setTip(waiting == 0 ? QLatin1String(MainWindow::kTrayTip)
                                        : QStringLiteral("%1 - %2 signature picture(s) waiting "
                                                         "for their upload")
                                              .arg(QLatin1String(MainWindow::kTrayTip))
                                              .arg(waiting));
    };
    show();
    QObject::connect(&m_outboxWatch, &QTimer::timeout, m_window.get(), show);
    m_outboxWatch.start(5000);
}

// A WebSocket certificate near its end is told at the icon, at start and each day after.
void TrayProgram::showCertificateNotices()
{
    WebSocketDoor* door = &m_server.webSocketDoor();
    const auto show = [this](const QString& line) {
        m_host.tray.showMessage(QLatin1String(MainWindow::kTrayTip),
                                line + QStringLiteral("; make a new one with varnelpayment "
                                                      "--make-certificate"));
    };
    if (!door->certificateNotice().isEmpty())
        show(door->certificateNotice());
    QObject::connect(door, &WebSocketDoor::certificateNoticed, m_window.get(), show);
}

void TrayProgram::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_outboxWatch.stop();
    if (m_window->aboutBox())
        m_window->aboutBox()->close();
    m_window->hide();
    m_server.shutdown();
    m_window->set_tray_icon(false);
}

void TrayProgram::commitData(QSessionManager& manager)
{
    if (!manager.allowsInteraction()) {
        // No question may be asked: the session ends the program.
        m_host.endProgram();
        return;
    }
    const bool ending = m_window->confirmClose();
    manager.release();
    if (!ending)
        manager.cancel();
}
