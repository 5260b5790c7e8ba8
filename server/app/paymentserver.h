#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "app/devices.h"
#include "app/windowcommands.h"
#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "core/programfolder.h"
#include "log/activitylog.h"
#include "request/accesspolicy.h"
#include "request/connectionlimit.h"
#include "settings/settingsfile.h"

class Clock;
class CommPortScan;
class DeviceBoard;
class MetricsPort;
class PrometheusTelemetry;
class EventPump;
class PinEntry;
class PurgeTimer;
class Telemetry;
class RequestDispatcher;
class RequestServer;
class RequestService;
class SignaturePad;
class WatchedFtpClient;
class WebSocketDoor;

// The whole server without its window: builds the live settings, the log, the settings file,
// the request service and the device operations over the devices it is given, starts them in
// the program's fixed order and shuts them down once. The window (when there is one) reaches
// the server through the live settings, the log and the window commands.
class PaymentServer : public QObject, public WindowCommands
{
    Q_OBJECT

public:
    PaymentServer(const ProgramFolder& folder, const Clock& clock, EventPump& pump, Devices devices,
                  QObject* parent = nullptr);
    ~PaymentServer() override;

    // Start-up: log, settings (which may connect the pad), listener, one purge, the purge
    // timer. `simulate` ticks the QP6100 box for this run only. Start-up runs to its end even
    // when the port cannot be listened on; then it returns false with the reason, which the
    // listener has logged, and the caller decides whether the program goes on.
    bool start(bool simulate, QString* listenError = nullptr);
    // Shut-down: disconnects the pad and logs "Application Closed". Runs once, and only after
    // a start.
    void shutdown();

    void mnuFileSave() override;
    void mnuToolsLogFilePurgeLog() override;
    void mnuToolsLogFileViewLog() override;
    void mnuQP6100Connect_Click() override;
    void mnuQP6100Disconnect_Click() override;
    void mnuQP6100LoadScript_Click() override;

    const ProgramFolder& folder() const { return m_folder; }
    ActivityLog& activityLog() { return m_log; }
    LiveSettings& settings() { return m_settings; }
    // The port listened on, 0 when not listening.
    quint16 listeningPort() const;
    // The WebSocket port listened on, 0 when closed; whether it speaks TLS.
    quint16 webSocketPort() const;
    bool webSocketSecure() const;
    // Why the WebSocket port that the settings ask for could not be opened; empty when it was,
    // or when none is asked for. The TCP port is served either way.
    const QString& webSocketError() const { return m_webSocketError; }
    // The metrics port listened on, 0 when closed; why the port asked for did not open.
    quint16 metricsPort() const;
    const QString& metricsError() const { return m_metricsError; }
    // One line for the service manager: the ports and the devices' states.
    QString statusLine() const;
    // How long the pad operations wait for the customer; a request's TIMER sets it.
    const PadTimeout& padTimeout() const { return m_padTimeout; }

private:
    // Opens the metrics port when `portField` asks for it.
    void startMetrics(const QString& portField, Telemetry& telemetry);

    ProgramFolder m_folder;
    const Clock& m_clock;
    EventPump& m_pump;
    Devices m_devices;
    ActivityLog m_log;
    LiveSettings m_settings;
    SettingsFile m_settingsFile;
    PadTimeout m_padTimeout;
    // Shared by every door that accepts clients.
    ConnectionLimit m_connectionLimit;
    // Who may connect, from `[Local] allowFrom`; the same for every door.
    AccessPolicy m_access;
    // Built by start() in this order. The telemetry only while the metrics port is asked for.
    std::unique_ptr<DeviceBoard> m_deviceBoard;
    std::unique_ptr<PrometheusTelemetry> m_telemetry;
    std::unique_ptr<WatchedFtpClient> m_watchedFtp;
    std::unique_ptr<RequestService> m_service;
    std::unique_ptr<RequestServer> m_requests;
    std::unique_ptr<WebSocketDoor> m_webSocket;
    std::unique_ptr<SignaturePad> m_pad;
    std::unique_ptr<PinEntry> m_pinPad;
    std::unique_ptr<CommPortScan> m_commPortScan;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    std::unique_ptr<PurgeTimer> m_purgeTimer;
    std::unique_ptr<MetricsPort> m_metrics;
    QString m_webSocketError;
    QString m_metricsError;
    bool m_started = false;
    bool m_shutDown = false;
};
