#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

#include "app/devices.h"
#include "app/serverlifecycle.h"
#include "app/serverwindowcommands.h"
#include "app/startupreport.h"
#include "core/deviceboard.h"
#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "core/programfolder.h"
#include "doors/accesspolicy.h"
#include "doors/admission.h"
#include "doors/connectionlimit.h"
#include "doors/metricsport.h"
#include "log/activitylog.h"
#include "metrics/healthanswer.h"
#include "pad/ftpclient.h"
#include "request/requestdispatcher.h"
#include "request/requestservice.h"
#include "settings/settings.h"
#include "settings/settingsfile.h"

class Clock;
class CommPortScan;
class FtpClient;
class PrometheusTelemetry;
class SignatureOutbox;
class WatchedFtpClient;
class PadControlServer;
class PadDriver;
class PinEntry;
class PinPadDevice;
class TcpDoor;
class TillRegistry;
class Scheduler;
class SerialProbe;
class SignaturePad;
class SimulatedPad;
class WebSocketDoor;

// The whole server without its window, composed in one place: the log, the live settings, the
// devices and their operations, the request service and its doors, each given what it needs
// when it is made. Its start-up and shut-down, and the window's commands, are objects of their
// own. The window (when there is one) reaches the server through the live settings, the log
// and the window commands.
class PaymentServer : public QObject
{
    Q_OBJECT

public:
    // `stored` is the settings file as read before the server was made; each part gets its
    // section of it, and the window's fields are loaded from it at start. `simulate` ticks the
    // QP6100 box for this run only.
    PaymentServer(const ProgramFolder& folder, const Settings& stored, const Clock& clock,
                  Scheduler& scheduler, Devices devices, bool simulate = false,
                  QObject* parent = nullptr);
    ~PaymentServer() override;

    // The program's start-up, once; the caller decides from the report whether it goes on.
    StartupReport start() { return m_lifecycle.start(); }
    // The one shut-down, only after a start.
    void shutdown() { m_lifecycle.shutdown(); }
    // The lines that tell where the server serves, for standard output.
    QStringList startedLines() const;

    // What the settings window's menus do.
    WindowCommands& windowCommands() { return m_commands; }
    const ProgramFolder& folder() const { return m_folder; }
    ActivityLog& activityLog() { return m_log; }
    LiveSettings& settings() { return m_settings; }
    // The port listened on, 0 when not listening.
    quint16 listeningPort() const;
    // The WebSocket port listened on, 0 when closed; whether it speaks TLS.
    quint16 webSocketPort() const;
    bool webSocketSecure() const;
    // The TLS port listened on, 0 when closed.
    quint16 tlsPort() const;
    // The metrics port listened on, 0 when closed.
    quint16 metricsPort() const;
    // One line for the service manager: the ports served and each device's state.
    QString statusLine() const;
    // The health answer of the metrics port.
    HealthAnswer health() const;
    // What waits in the outbox, as the health answer and the tray show it.
    OutboxFigures outboxFigures() const;
    // The WebSocket door (its certificate's end, for the tray).
    WebSocketDoor& webSocketDoor() const { return *m_webSocketDoor; }

private:
    // The metrics text and the health answer, as the metrics port serves them.
    MetricsPort::Pages metricsPages();
    // The client and the settings every upload uses, the outbox's own included.
    FtpSource uploadSource(const ProgramFolder& folder, SignatureOutbox* outbox);

    ProgramFolder m_folder;
    // The file as read at start-up; the window's fields live on in `m_settings`.
    Settings m_stored;
    ActivityLog m_log;
    LiveSettings m_settings;
    SettingsFile m_settingsFile;
    // How long the pad's operations wait for the customer; a request's TIMER sets it.
    PadTimeout m_padTimeout;
    // Shared by every door that accepts clients.
    ConnectionLimit m_connectionLimit;
    // Each device's state as STATUS, the health answer and the metrics see it.
    DeviceBoard m_deviceBoard;
    // The metrics, only while `[Metrics] Port` asks for them; else nobody watches.
    std::unique_ptr<PrometheusTelemetry> m_metrics;
    Telemetry& m_telemetry;
    // What start-up logs about who may connect (from `[Local] allowFrom`, the same for every
    // door) and about uploads that would cross the network in clear.
    QStringList m_startupLines;
    AccessPolicy m_access;
    // The devices this server made for itself where the host gave none.
    std::unique_ptr<FtpClient> m_ownFtpClient;
    // Uploads are counted and timed on their way to the FTP client.
    std::unique_ptr<WatchedFtpClient> m_watchedFtp;
    // Pictures whose upload has not arrived; made before the pad, whose uploads use it.
    std::unique_ptr<SignatureOutbox> m_outbox;
    std::unique_ptr<PinPadDevice> m_ownPinPad;
    std::unique_ptr<SerialProbe> m_ownSerialProbe;
    std::unique_ptr<SimulatedPad> m_simulatedPad;
    std::unique_ptr<PadDriver> m_padDriver;
    std::unique_ptr<SignaturePad> m_pad;
    std::unique_ptr<PinEntry> m_pinPad;
    std::unique_ptr<CommPortScan> m_commPortScan;
    RequestDispatcher m_dispatcher;
    // The registered tills, followed in their file while the server runs.
    std::unique_ptr<TillRegistry> m_tills;
    RequestService m_service;
    // Who comes in through the tills' doors.
    Admission m_admission;
    // The metrics port's: the same allow-list, its own small cap.
    ConnectionLimit m_metricsLimit;
    Admission m_metricsAdmission;
    std::unique_ptr<TcpDoor> m_tcpDoor;
    std::unique_ptr<WebSocketDoor> m_webSocketDoor;
    std::unique_ptr<TcpDoor> m_tlsDoor;
    std::unique_ptr<PadControlServer> m_padControl;
    std::unique_ptr<MetricsPort> m_metricsPort;
    ServerWindowCommands m_commands;
    ServerLifecycle m_lifecycle;
};
