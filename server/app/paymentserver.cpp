#include "app/paymentserver.h"
#include "app/portclash.h"
#include "app/watchedftpclient.h"

#include <QFileInfo>
#include <QSslCertificate>

#include "core/clock.h"
#include "core/scheduler.h"
#include "log/purgetimer.h"
#include "log/textviewer.h"
#include "metrics/metricsport.h"
#include "metrics/prometheustelemetry.h"
#include "pad/curlftpclient.h"
#include "pad/padcontrolprotocol.h"
#include "pad/padcontrolserver.h"
#include "pad/signaturepad.h"
#include "pad/simulatedpad.h"
#include "pinpad/commportscan.h"
#include "pinpad/pinentry.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"
#include "pinpad/serialportname.h"
#include "request/listenport.h"
#include "request/requestserver.h"
#include "request/websocketdoor.h"
#include "settings/ftpsettings.h"

namespace {

// The host's device, or one of this server's own that `own` keeps.
template <typename Interface, typename Real, typename... Args>
Interface& chosen(Interface* given, std::unique_ptr<Interface>& own, Args&&... args)
{
    if (given)
        return *given;
    own = std::make_unique<Real>(std::forward<Args>(args)...);
    return *own;
}

} // namespace

PaymentServer::PaymentServer(const ProgramFolder& folder, const Settings& stored,
                             const Clock& clock, Scheduler& scheduler, Devices devices,
                             bool simulate, QObject* parent)
    : QObject(parent), m_folder(folder), m_stored(stored), m_clock(clock), m_simulate(simulate),
      m_textViewer(devices.textViewer),
      m_log(folder.logPath(), clock, LogLimits{stored.local.maxLogMegabytes}),
      m_settingsFile(folder.settingsPath(), m_log), m_connectionLimit(stored.local.maxConnections),
      m_deviceBoard(DeviceBoard::Probes{
                        [this] { return m_settings.chkQP6100Device() == LiveSettings::Ticked; },
                        // The QP6100 menu is in its open state while the pad's port is open.
                        [this] { return m_settings.mnuQP6100Disconnect(); },
                        [this] { return m_dispatcher.padHeld(); }},
                    DeviceBoard::Probes{
                        [this] { return m_settings.chk1000SEDevice() == LiveSettings::Ticked; },
                        // The PIN pad is opened per request: its port is there or not.
                        [this] {
                            return QFileInfo::exists(SerialPortName::devicePath(
                                m_settings.cbo1000SECommPort(), m_stored.serialPorts));
                        },
                        [this] { return m_dispatcher.pinPadHeld(); }}),
      m_metrics(parseListenPort(stored.metrics.port.trimmed())
                    ? std::make_unique<PrometheusTelemetry>(m_deviceBoard, m_log,
                                                            QStringLiteral(VARNEL_VERSION))
                    : nullptr),
      m_telemetry(m_metrics ? static_cast<Telemetry&>(*m_metrics) : Telemetry::none()),
      m_access(AccessPolicy::fromAllowFrom(stored.local.allowFrom, &m_accessLines)),
      m_watchedFtp(std::make_unique<WatchedFtpClient>(
          chosen<FtpClient, CurlFtpClient>(devices.ftpClient, m_ownFtpClient), m_telemetry)),
      m_simulatedPad(devices.makePad ? nullptr : std::make_unique<SimulatedPad>()),
      m_padDriver(devices.makePad ? devices.makePad(m_stored.qp6100, m_log) : nullptr),
      m_pad(std::make_unique<SignaturePad>(
          m_padDriver ? *m_padDriver : static_cast<PadDriver&>(*m_simulatedPad), m_settings, m_log,
          devices.fileChooser, scheduler, m_padTimeout,
          FtpSource{
              *m_watchedFtp,
              [settingsPath = folder.settingsPath()] { return readFtpSettings(settingsPath); }},
          folder.signaturesPath())),
      m_pinPad(std::make_unique<PinEntry>(
          chosen<PinPadDevice, SerialPinPad>(devices.pinPad, m_ownPinPad, stored.serialPorts,
                                             scheduler),
          m_settings, m_log, stored.pinPad.pinTimeoutSeconds)),
      m_commPortScan(std::make_unique<CommPortScan>(
          chosen<SerialProbe, QtSerialProbe>(devices.serialProbe, m_ownSerialProbe), m_settings,
          m_log, stored.serialPorts)),
      m_dispatcher(m_log, m_padTimeout, *m_pad, *m_pinPad, &m_deviceBoard),
      m_service(m_log, m_dispatcher, folder.signaturesPath(), m_telemetry),
      m_admission(m_log, m_access, m_connectionLimit, m_telemetry),
      m_tcpDoor(std::make_unique<RequestServer>(m_log, stored.local, m_service, m_admission)),
      m_webSocketDoor(std::make_unique<WebSocketDoor>(
          m_log, stored.webSocket, stored.local.bindAddress, m_admission, m_service)),
      m_padControl(m_simulatedPad ? std::make_unique<PadControlServer>(*m_simulatedPad, m_log)
                                  : nullptr),
      m_metricsPort(m_metrics ? std::make_unique<MetricsPort>(
                                    m_log, m_admission,
                                    MetricsPort::Pages{[this] { return m_metrics->text(); },
                                                       [this] { return health(); }},
                                    stored.metrics, stored.local.bindAddress)
                              : nullptr)
{
    // The certificate's end, for the alert that comes before it.
    const QString certificate = stored.webSocket.certFile.trimmed();
    if (m_metrics && !certificate.isEmpty()) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificate);
        if (!chain.isEmpty())
            m_telemetry.certificateExpires(chain.first().expiryDate().toSecsSinceEpoch());
    }
}

PaymentServer::~PaymentServer() = default;

StartupReport PaymentServer::start()
{
    StartupReport report;
    if (m_started)
        return report;
    m_started = true;
    m_log.log(QStringLiteral("Application: Form load"));
    m_settings.load(m_stored.window(), [this] { m_commPortScan->list_comm_ports(); });
    if (m_simulate)
        m_settings.setChkQP6100Device(LiveSettings::Ticked);
    for (const QString& line : m_stored.complaints + m_accessLines)
        m_log.log(line);
    // Two of the server's ports on one number: only one of them can listen.
    report.warnings = portClashes(serverPortSettings(m_stored));
    for (const QString& line : std::as_const(report.warnings))
        m_log.log(line);

    // The cap is fitted to the file limit once, before either door opens.
    m_connectionLimit.fitToFileLimit(m_log);
    report.port = m_stored.local.fields.sockport;
    m_tcpDoor->start_listening(&report.listenError);
    // A second door onto the same service, for browser tills; without it the TCP port serves on.
    report.webSocketPort = m_stored.webSocket.port;
    m_webSocketDoor->start(&report.webSocketError);
    if (m_metricsPort) {
        report.metricsPort = m_stored.metrics.port;
        m_metricsPort->start(&report.metricsError);
    }
    mnuToolsLogFilePurgeLog();
    m_purgeTimer = std::make_unique<PurgeTimer>(m_log, m_clock);
    // The simulated pad's control port, where varnel-pad stands at the pad.
    if (m_padControl)
        m_padControl->listen(
            m_stored.simulator.padControlPort.value_or(PadControlProtocol::kDefaultPort));
    return report;
}

void PaymentServer::shutdown()
{
    if (!m_started || m_shutDown)
        return;
    m_shutDown = true;
    m_purgeTimer.reset();
    m_service.close();
    m_pad->connection().runDisconnect();
    m_log.log(QStringLiteral("Application Closed"));
}

QStringList PaymentServer::startedLines() const
{
    QStringList lines{
        QStringLiteral("Varnel Payment Server %1").arg(QStringLiteral(VARNEL_VERSION)),
        QStringLiteral("Program folder: %1").arg(m_folder.path())};
    if (listeningPort() != 0)
        lines << QStringLiteral("Listening on port: %1").arg(listeningPort());
    if (webSocketPort() != 0)
        lines << QStringLiteral("WebSocket port: %1 (%2)")
                     .arg(webSocketPort())
                     .arg(webSocketSecure() ? QStringLiteral("wss") : QStringLiteral("ws"));
    if (metricsPort() != 0)
        lines << QStringLiteral("Metrics port: %1").arg(metricsPort());
    return lines;
}

quint16 PaymentServer::listeningPort() const
{
    return m_tcpDoor->listeningPort();
}

quint16 PaymentServer::metricsPort() const
{
    return m_metricsPort ? m_metricsPort->listeningPort() : 0;
}

HealthAnswer PaymentServer::health() const
{
    return HealthAnswer::of(m_deviceBoard,
                            {{QStringLiteral("tcp"), true, listeningPort()},
                             {QStringLiteral("websocket"),
                              !m_stored.webSocket.port.trimmed().isEmpty(), webSocketPort()},
                             {QStringLiteral("metrics"), true, metricsPort()}},
                            QStringLiteral(VARNEL_VERSION));
}

QString PaymentServer::statusLine() const
{
    QString line = QStringLiteral("port %1").arg(listeningPort());
    if (webSocketPort() != 0)
        line += QStringLiteral(", WebSocket %1").arg(webSocketPort());
    if (metricsPort() != 0)
        line += QStringLiteral(", metrics %1").arg(metricsPort());
    return line +
           QStringLiteral("; QP6100 %1, 1000SE %2")
               .arg(QLatin1String(DeviceBoard::statusName(m_deviceBoard.status(DeviceId::Pad))),
                    QLatin1String(DeviceBoard::statusName(m_deviceBoard.status(DeviceId::PinPad))));
}

quint16 PaymentServer::webSocketPort() const
{
    return m_webSocketDoor->listeningPort();
}

bool PaymentServer::webSocketSecure() const
{
    return m_webSocketDoor->isSecure();
}

void PaymentServer::mnuFileSave()
{
    // The window's fields as they stand now; the rest as read.
    m_settingsFile.mnuFileSave(m_stored.withWindow(m_settings.fields()));
}

void PaymentServer::mnuToolsLogFilePurgeLog()
{
    m_log.purge_log();
}

void PaymentServer::mnuToolsLogFileViewLog()
{
    view_log(m_log, m_textViewer);
}

void PaymentServer::mnuQP6100Connect_Click()
{
    m_pad->connection().runConnect();
}

void PaymentServer::mnuQP6100Disconnect_Click()
{
    m_pad->connection().runDisconnect();
}

void PaymentServer::mnuQP6100LoadScript_Click()
{
    m_pad->connection().runLoadScript();
}
