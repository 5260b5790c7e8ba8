#include "app/paymentserver.h"
#include "app/watchedftpclient.h"

#include <QFileInfo>
#include <QSslCertificate>

#include "core/clock.h"
#include "core/deviceboard.h"
#include "core/eventpump.h"
#include "log/purgetimer.h"
#include "log/textviewer.h"
#include "metrics/metricsport.h"
#include "metrics/prometheustelemetry.h"
#include "pad/signaturepad.h"
#include "pinpad/commportscan.h"
#include "pinpad/pinentry.h"
#include "pinpad/serialportname.h"
#include "request/accesspolicy.h"
#include "request/deviceoperations.h"
#include "request/listenport.h"
#include "request/requestdispatcher.h"
#include "request/requestserver.h"
#include "request/requestservice.h"
#include "request/websocketdoor.h"

PaymentServer::PaymentServer(const ProgramFolder& folder, const Clock& clock, EventPump& pump,
                             Devices devices, QObject* parent)
    : QObject(parent), m_folder(folder), m_clock(clock), m_pump(pump), m_devices(devices),
      m_log(folder.logPath(), clock), m_settingsFile(folder.settingsPath(), m_log)
{
}

PaymentServer::~PaymentServer() = default;

bool PaymentServer::start(bool simulate, QString* listenError)
{
    if (m_started)
        return listeningPort() != 0;
    m_started = true;
    m_log.log(QStringLiteral("Application: Form load"));
    // What the watchers see: each device's box, port and hold, read when asked; the metrics
    // only while their port is asked for.
    m_deviceBoard = std::make_unique<DeviceBoard>(
        DeviceBoard::Probes{[this] { return m_settings.chkQP6100Device() == LiveSettings::Ticked; },
                            // The QP6100 menu is in its open state while the pad's port is open.
                            [this] { return m_settings.mnuQP6100Disconnect(); },
                            [this] { return m_dispatcher && m_dispatcher->padHeld(); }},
        DeviceBoard::Probes{[this] { return m_settings.chk1000SEDevice() == LiveSettings::Ticked; },
                            // The PIN pad is opened per request: its port is there or not.
                            [this] {
                                return QFileInfo::exists(SerialPortName::devicePath(
                                    m_settings.cbo1000SECommPort(), m_folder.settingsPath()));
                            },
                            [this] { return m_dispatcher && m_dispatcher->pinPadHeld(); }});
    const QString metricsPortField = m_settingsFile.metricsPort();
    if (!metricsPortField.isEmpty() && metricsPortField != QLatin1String("0"))
        m_telemetry = std::make_unique<PrometheusTelemetry>(*m_deviceBoard, m_log,
                                                            QStringLiteral(VARNEL_VERSION));
    Telemetry& telemetry = m_telemetry ? static_cast<Telemetry&>(*m_telemetry) : Telemetry::none();
    m_service =
        std::make_unique<RequestService>(m_log, m_padTimeout, m_folder.signaturesPath(), telemetry);
    m_requests = std::make_unique<RequestServer>(m_log, m_settings, *m_service, m_connectionLimit,
                                                 nullptr, telemetry);
    // The pad's operations exist before the settings load, which may already connect the pad.
    // Uploads are counted and timed on their way to the FTP client.
    m_watchedFtp = std::make_unique<WatchedFtpClient>(m_devices.ftpClient, telemetry);
    m_pad = std::make_unique<SignaturePad>(
        m_devices.padDriver, m_settings, m_log, *m_service, m_pump, m_padTimeout,
        m_devices.fileChooser, *m_watchedFtp, m_folder.settingsPath(), m_folder.signaturesPath());
    m_pinPad = std::make_unique<PinEntry>(m_devices.pinPad, m_settings, m_log, *m_service);
    m_dispatcher = std::make_unique<RequestDispatcher>(m_log, *m_service, *m_pad, *m_pinPad,
                                                       m_deviceBoard.get());
    m_service->setDispatcher(m_dispatcher.get());

    m_commPortScan = std::make_unique<CommPortScan>(m_devices.serialProbe, m_settings, m_log,
                                                    m_folder.settingsPath());
    m_settingsFile.load_settings(m_settings, [this] { m_commPortScan->list_comm_ports(); });
    if (simulate)
        m_settings.setChkQP6100Device(LiveSettings::Ticked);
    m_connectionLimit.setMax(m_settingsFile.maxConnections());

    QStringList accessLines;
    m_access = AccessPolicy::fromAllowFrom(m_settings.allowFrom(), &accessLines);
    for (const QString& line : accessLines)
        m_log.log(line);
    m_requests->setAccessPolicy(m_access);
    const bool listening = m_requests->start_listening(listenError);
    // A second door onto the same service, for browser tills; without it the TCP port serves on.
    m_webSocket = std::make_unique<WebSocketDoor>(m_log, m_settings, m_access, m_connectionLimit,
                                                  *m_service, nullptr, telemetry);
    m_webSocket->start(&m_webSocketError);
    startMetrics(metricsPortField, telemetry);
    mnuToolsLogFilePurgeLog();
    m_purgeTimer = std::make_unique<PurgeTimer>(m_log, m_clock);
    return listening;
}

void PaymentServer::startMetrics(const QString& portField, Telemetry& telemetry)
{
    if (!m_telemetry)
        return;
    const QString certificate = m_settings.webSocketCertFile().trimmed();
    if (!certificate.isEmpty()) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificate);
        if (!chain.isEmpty())
            telemetry.certificateExpires(chain.first().expiryDate().toSecsSinceEpoch());
    }
    m_metrics = std::make_unique<MetricsPort>(
        m_log, m_access, m_connectionLimit,
        MetricsPort::Pages{[this] { return m_telemetry->text(); },
                           [this] {
                               return HealthAnswer::of(
                                   *m_deviceBoard,
                                   {{QStringLiteral("tcp"), true, listeningPort()},
                                    {QStringLiteral("websocket"),
                                     !m_settings.webSocketPort().trimmed().isEmpty(),
                                     webSocketPort()},
                                    {QStringLiteral("metrics"), true, metricsPort()}},
                                   QStringLiteral(VARNEL_VERSION));
                           }},
        nullptr, telemetry);
    const std::optional<QHostAddress> address = parseBindAddress(m_settings.bindAddress());
    if (address)
        m_metrics->start(portField, *address, &m_metricsError);
}

quint16 PaymentServer::metricsPort() const
{
    return m_metrics && m_metrics->isListening() ? m_metrics->serverPort() : 0;
}

QString PaymentServer::statusLine() const
{
    QString line = QStringLiteral("port %1").arg(listeningPort());
    if (webSocketPort() != 0)
        line += QStringLiteral(", WebSocket %1").arg(webSocketPort());
    if (metricsPort() != 0)
        line += QStringLiteral(", metrics %1").arg(metricsPort());
    if (m_deviceBoard)
        line +=
            QStringLiteral("; QP6100 %1, 1000SE %2")
                .arg(QLatin1String(DeviceBoard::statusName(m_deviceBoard->status(DeviceId::Pad))),
                     QLatin1String(
                         DeviceBoard::statusName(m_deviceBoard->status(DeviceId::PinPad))));
    return line;
}

void PaymentServer::shutdown()
{
    if (!m_started || m_shutDown)
        return;
    m_shutDown = true;
    m_purgeTimer.reset();
    m_pad->connection().runDisconnect();
    m_log.log(QStringLiteral("Application Closed"));
}

quint16 PaymentServer::listeningPort() const
{
    return m_requests ? m_requests->listeningPort() : 0;
}

quint16 PaymentServer::webSocketPort() const
{
    return m_webSocket ? m_webSocket->listeningPort() : 0;
}

bool PaymentServer::webSocketSecure() const
{
    return m_webSocket && m_webSocket->isSecure();
}

void PaymentServer::mnuFileSave()
{
    m_settingsFile.mnuFileSave(m_settings);
}

void PaymentServer::mnuToolsLogFilePurgeLog()
{
    m_log.purge_log();
}

void PaymentServer::mnuToolsLogFileViewLog()
{
    view_log(m_log, m_devices.textViewer);
}

void PaymentServer::mnuQP6100Connect_Click()
{
    if (m_pad)
        m_pad->connection().runConnect();
}

void PaymentServer::mnuQP6100Disconnect_Click()
{
    if (m_pad)
        m_pad->connection().runDisconnect();
}

void PaymentServer::mnuQP6100LoadScript_Click()
{
    if (m_pad)
        m_pad->connection().runLoadScript();
}
