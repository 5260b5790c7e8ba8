#pragma once

#include <memory>

#include <QString>
#include <QTimer>

#include "app/startupreport.h"
#include "shell/desktophost.h"

class MainWindow;
class PaymentServer;
class QSessionManager;

// The server with its settings window and tray icon: the program's start-up with a window,
// and its end.
class TrayProgram
{
public:
    TrayProgram(PaymentServer& server, DesktopHost host);
    ~TrayProgram();
    TrayProgram(const TrayProgram&) = delete;
    TrayProgram& operator=(const TrayProgram&) = delete;

    // The server's start-up, then the window is shown and goes into the notification area.
    // When the port cannot be used the window stays open and the tray icon says why; on a
    // desktop without a notification area the window stays open too. Returns what the
    // server's start-up could not do.
    StartupReport start();
    // The server's one shut-down, then the icon is taken away. Runs once.
    void finish();

    MainWindow& window() const { return *m_window; }

private:
    // The desktop session is ending: the close box decides, as for any close request.
    void commitData(QSessionManager& manager);
    void showCertificateNotices();
    void watchOutbox();

    PaymentServer& m_server;
    DesktopHost m_host;
    std::unique_ptr<MainWindow> m_window;
    bool m_finished = false;
    // Looks at the outbox now and then, for the number waiting that the icon's tip shows.
    QTimer m_outboxWatch;
};
