#pragma once

#include <memory>

#include <QStringList>

#include "app/startupreport.h"

class ActivityLog;
class Clock;
class CommPortScan;
class ConnectionLimit;
class LiveSettings;
class MetricsPort;
class PadConnection;
class PadControlServer;
class PurgeTimer;
class RequestService;
class TcpDoor;
class WebSocketDoor;
class WindowCommands;
struct Settings;

// The server's start-up in its fixed order and its one shut-down, over parts made elsewhere.
class SignatureOutbox;

class ServerLifecycle
{
public:
    // What start-up and shut-down act on; the optional parts are null when not made.
    struct Parts
    {
        ActivityLog& log;
        const Clock& clock;
        LiveSettings& window;
        // The settings file as read, and the lines start-up logs about who may connect and
        // about uploads in clear.
        const Settings& stored;
        const QStringList& startupLines;
        // Ticks the QP6100 box for this run only.
        bool simulate;
        CommPortScan& commPortScan;
        ConnectionLimit& connectionLimit;
        TcpDoor& tcpDoor;
        WebSocketDoor& webSocketDoor;
        TcpDoor& tlsDoor;
        MetricsPort* metricsPort;
        PadControlServer* padControl;
        WindowCommands& commands;
        RequestService& service;
        PadConnection& pad;
        SignatureOutbox& outbox;
    };

    explicit ServerLifecycle(Parts parts);
    ~ServerLifecycle();

    // Start-up: log, settings (which may connect the pad), the doors, one purge, the purge
    // timer, the simulated pad's control port, the outbox's retries. Runs to its end even when a
    // port cannot be used; what went wrong comes back for the caller to print. Runs once.
    StartupReport start();
    // Shut-down: stops what waits on a device, disconnects the pad and logs "Application
    // Closed". Runs once, and only after a start.
    void shutdown();

private:
    // The warning that a ticked device is open to every machine that reaches the box (no
    // allow-list, no keys required); empty when it is not.
    static QString openToNetworkWarning(const Parts& p);

    Parts m_parts;
    std::unique_ptr<PurgeTimer> m_purgeTimer;
    bool m_started = false;
    bool m_shutDown = false;
};
