#include "app/paymentserver.h"

#include "app/cleartextupload.h"
#include "app/watchedftpclient.h"

#include <QFileInfo>
#include <QSslCertificate>

#include "core/clock.h"
#include "core/scheduler.h"
#include "doors/listenport.h"
#include "doors/tcpdoor.h"
#include "doors/websocketdoor.h"
#include "metrics/prometheustelemetry.h"
#include "pad/curlftpclient.h"
#include "pad/padcontrolserver.h"
#include "pad/signatureoutbox.h"
#include "pad/signaturepad.h"
#include "pad/simulatedpad.h"
#include "pinpad/commportscan.h"
#include "pinpad/pinentry.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"
#include "pinpad/serialportname.h"
#include "settings/ftpsecurity.h"
#include "settings/ftpsettings.h"
#include "settings/outboxsettings.h"
#include "tls/tillregistry.h"

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
    : QObject(parent), m_folder(folder), m_stored(stored),
      m_log(folder.logPath(), clock, LogLimits{stored.local.maxLogMegabytes}, &scheduler),
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
      m_access(AccessPolicy::fromAllowFrom(stored.local.allowFrom, &m_startupLines)),
      m_watchedFtp(std::make_unique<WatchedFtpClient>(
          chosen<FtpClient, CurlFtpClient>(devices.ftpClient, m_ownFtpClient), m_telemetry)),
      m_outbox(std::make_unique<SignatureOutbox>(SignatureOutbox::Parts{
          folder.signaturesPath(), readOutboxSettings(folder.settingsPath(), &m_startupLines),
          uploadSource(folder, nullptr), m_log, clock, scheduler, m_telemetry})),
      m_simulatedPad(devices.makePad ? nullptr : std::make_unique<SimulatedPad>()),
      m_padDriver(devices.makePad ? devices.makePad(m_stored.qp6100, m_log) : nullptr),
      m_pad(std::make_unique<SignaturePad>(
          m_padDriver ? *m_padDriver : static_cast<PadDriver&>(*m_simulatedPad), m_settings, m_log,
          devices.fileChooser, scheduler, m_padTimeout, uploadSource(folder, m_outbox.get()),
          folder.signaturesPath())),
      m_pinPad(std::make_unique<PinEntry>(
          chosen<PinPadDevice, SerialPinPad>(devices.pinPad, m_ownPinPad, stored.serialPorts,
                                             scheduler),
          m_settings, m_log, stored.pinPad.pinTimeoutSeconds)),
      m_commPortScan(std::make_unique<CommPortScan>(
          chosen<SerialProbe, QtSerialProbe>(devices.serialProbe, m_ownSerialProbe), m_settings,
          m_log, stored.serialPorts)),
      m_dispatcher(m_log, m_padTimeout, *m_pad, *m_pinPad, &m_deviceBoard),
      m_tills(std::make_unique<TillRegistry>(folder.tillsPath(), m_log)),
      m_service(m_log, m_dispatcher, folder.signaturesPath(), m_telemetry, *m_tills,
                stored.tills.requireKey),
      m_admission(m_log, m_access, m_connectionLimit, m_telemetry),
      m_metricsLimit(MetricsPort::kMaxConnections),
      m_metricsAdmission(m_log, m_access, m_metricsLimit, m_telemetry,
                         QStringLiteral("Metrics connections")),
      m_tcpDoor(std::make_unique<TcpDoor>(m_log, stored.local, m_service, m_admission)),
      m_webSocketDoor(std::make_unique<WebSocketDoor>(m_log, stored.webSocket,
                                                      stored.local.bindAddress, m_admission,
                                                      m_service, stored.local.idleSeconds)),
      m_tlsDoor(std::make_unique<TcpDoor>(m_log, stored.local, stored.tls, m_service, m_admission)),
      m_padControl(m_simulatedPad ? std::make_unique<PadControlServer>(*m_simulatedPad, m_log)
                                  : nullptr),
      m_metricsPort(m_metrics
                        ? std::make_unique<MetricsPort>(m_log, m_metricsAdmission, metricsPages(),
                                                        stored.metrics, stored.local.bindAddress)
                        : nullptr),
      m_commands(m_settingsFile, m_stored, m_settings, m_log, devices.textViewer,
                 m_pad->connection(), folder),
      m_lifecycle({m_log, clock, m_settings, m_stored, m_startupLines, simulate, *m_commPortScan,
                   m_connectionLimit, *m_tcpDoor, *m_webSocketDoor, *m_tlsDoor, m_metricsPort.get(),
                   m_padControl.get(), m_commands, m_service, m_pad->connection(), *m_outbox})
{
    // A revoked till's connections close at once; its key is refused from then on.
    connect(m_tills.get(), &TillRegistry::removed, this,
            [this](const QString& name) { m_service.tillRemoved(name); });
    if (const auto warning =
            cleartextUploadWarning(stored.ftp, readFtpSecurity(folder.settingsPath())))
        m_startupLines << *warning;
    // The certificate's end, for the alert that comes before it.
    const QString certificate = stored.webSocket.certFile.trimmed();
    if (m_metrics && !certificate.isEmpty()) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificate);
        if (!chain.isEmpty())
            m_telemetry.certificateExpires(chain.first().expiryDate().toSecsSinceEpoch());
    }
}

PaymentServer::~PaymentServer() = default;

FtpSource PaymentServer::uploadSource(const ProgramFolder& folder, SignatureOutbox* outbox)
{
    // The settings are read afresh at every upload, so that a change takes effect at once.
    return FtpSource{
        *m_watchedFtp,
        [settingsPath = folder.settingsPath()] { return readFtpSettings(settingsPath); },
        [settingsPath = folder.settingsPath()] { return readFtpSecurity(settingsPath); }, outbox};
}

MetricsPort::Pages PaymentServer::metricsPages()
{
    return {[this] {
                const OutboxFigures waiting = m_outbox->figures();
                m_telemetry.outboxWaiting(waiting.waiting, waiting.oldestSeconds);
                return HttpResponse{
                    200, "text/plain; version=0.0.4; charset=utf-8", m_metrics->text(), {}};
            },
            [this] {
                const HealthAnswer answer = health();
                return HttpResponse{answer.httpStatus, "application/health+json", answer.json, {}};
            }};
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
    if (tlsPort() != 0)
        lines << QStringLiteral("TLS port: %1").arg(tlsPort());
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
                             {QStringLiteral("tls"), !isLeftClosed(m_stored.tls.port), tlsPort()},
                             {QStringLiteral("metrics"), true, metricsPort()}},
                            outboxFigures(), QStringLiteral(VARNEL_VERSION));
}

OutboxFigures PaymentServer::outboxFigures() const
{
    return m_outbox->figures();
}

QString PaymentServer::statusLine() const
{
    QString line = QStringLiteral("port %1").arg(listeningPort());
    if (webSocketPort() != 0)
        line += QStringLiteral(", WebSocket %1").arg(webSocketPort());
    if (tlsPort() != 0)
        line += QStringLiteral(", TLS %1").arg(tlsPort());
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

quint16 PaymentServer::tlsPort() const
{
    return m_tlsDoor->listeningPort();
}

bool PaymentServer::webSocketSecure() const
{
    return m_webSocketDoor->isSecure();
}
