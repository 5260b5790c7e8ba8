#include "app/paymentserver.h"
#include "app/portclash.h"

#include "core/clock.h"
#include "core/eventpump.h"
#include "log/purgetimer.h"
#include "log/textviewer.h"
#include "pad/signaturepad.h"
#include "pinpad/commportscan.h"
#include "pinpad/pinentry.h"
#include "request/accesspolicy.h"
#include "request/deviceoperations.h"
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
    m_service = std::make_unique<RequestService>(m_log, m_padTimeout, m_folder.signaturesPath());
    m_requests = std::make_unique<RequestServer>(m_log, m_settings, *m_service, m_connectionLimit);
    // The pad's operations exist before the settings load, which may already connect the pad.
    m_pad =
        std::make_unique<SignaturePad>(m_devices.padDriver, m_settings, m_log, *m_service, m_pump,
                                       m_padTimeout, m_devices.fileChooser, m_devices.ftpClient,
                                       m_folder.settingsPath(), m_folder.signaturesPath());
    m_pinPad = std::make_unique<PinEntry>(m_devices.pinPad, m_settings, m_log, *m_service);
    m_dispatcher = std::make_unique<RequestDispatcher>(m_log, *m_service, *m_pad, *m_pinPad);
    m_service->setDispatcher(m_dispatcher.get());

    m_commPortScan = std::make_unique<CommPortScan>(m_devices.serialProbe, m_settings, m_log,
                                                    m_folder.settingsPath());
    m_settingsFile.load_settings(m_settings, [this] { m_commPortScan->list_comm_ports(); });
    if (simulate)
        m_settings.setChkQP6100Device(LiveSettings::Ticked);
    m_connectionLimit.setMax(m_settingsFile.maxConnections());
    reportPortClashes(m_folder.settingsPath(), m_log);

    QStringList accessLines;
    m_access = AccessPolicy::fromAllowFrom(m_settings.allowFrom(), &accessLines);
    for (const QString& line : accessLines)
        m_log.log(line);
    m_requests->setAccessPolicy(m_access);
    const bool listening = m_requests->start_listening(listenError);
    // A second door onto the same service, for browser tills; without it the TCP port serves on.
    m_webSocket =
        std::make_unique<WebSocketDoor>(m_log, m_settings, m_access, m_connectionLimit, *m_service);
    m_webSocket->start(&m_webSocketError);
    mnuToolsLogFilePurgeLog();
    m_purgeTimer = std::make_unique<PurgeTimer>(m_log, m_clock);
    return listening;
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
