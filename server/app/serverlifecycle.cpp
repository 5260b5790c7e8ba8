#include "app/serverlifecycle.h"

#include "app/portclash.h"
#include "app/windowcommands.h"
#include "core/livesettings.h"
#include "doors/connectionlimit.h"
#include "doors/metricsport.h"
#include "doors/tcpdoor.h"
#include "doors/websocketdoor.h"
#include "log/activitylog.h"
#include "log/purgetimer.h"
#include "pad/padconnection.h"
#include "pad/padcontrolprotocol.h"
#include "pad/padcontrolserver.h"
#include "pad/signatureoutbox.h"
#include "pinpad/commportscan.h"
#include "request/requestservice.h"
#include "settings/settings.h"

ServerLifecycle::ServerLifecycle(Parts parts) : m_parts(parts) {}

QString ServerLifecycle::openToNetworkWarning(const Parts& p)
{
    const bool deviceTicked = p.window.chkQP6100Device() == LiveSettings::Ticked ||
                              p.window.chk1000SEDevice() == LiveSettings::Ticked;
    if (!deviceTicked || !p.stored.local.allowFrom.trimmed().isEmpty() || p.stored.tills.requireKey)
        return {};
    return QStringLiteral("Warning: any machine on the network may ask for card data and PIN "
                          "entries; set [Local] allowFrom to the tills' addresses, or add tills "
                          "and set [Tills] RequireKey=Y");
}

ServerLifecycle::~ServerLifecycle() = default;

StartupReport ServerLifecycle::start()
{
    StartupReport report;
    if (m_started)
        return report;
    m_started = true;
    const Parts& p = m_parts;
    p.log.log(QStringLiteral("Application: Form load"));
    p.window.load(p.stored.window(), [&p] { p.commPortScan.list_comm_ports(); });
    if (p.simulate)
        p.window.setChkQP6100Device(LiveSettings::Ticked);
    for (const QString& line : p.stored.complaints + p.startupLines)
        p.log.log(line);
    // Two of the server's ports on one number: only one of them can listen.
    report.warnings = portClashes(serverPortSettings(p.stored));
    report.openToNetwork = openToNetworkWarning(p);
    if (!report.openToNetwork.isEmpty())
        report.warnings << report.openToNetwork;
    for (const QString& line : std::as_const(report.warnings))
        p.log.log(line);

    // The cap is fitted to the file limit once, before any door opens.
    p.connectionLimit.fitToFileLimit(p.log);
    report.port = p.stored.local.fields.sockport;
    p.tcpDoor.start_listening(&report.listenError);
    // A second door onto the same service, for browser tills; without it the TCP port serves on.
    report.webSocketPort = p.stored.webSocket.port;
    p.webSocketDoor.start(&report.webSocketError);
    // TCP tills that speak TLS; without it the plain port serves on.
    report.tlsPort = p.stored.tls.port;
    p.tlsDoor.start_listening(&report.tlsError);
    if (p.metricsPort) {
        report.metricsPort = p.stored.metrics.port;
        p.metricsPort->start(&report.metricsError);
    }
    p.commands.mnuToolsLogFilePurgeLog();
    m_purgeTimer = std::make_unique<PurgeTimer>(p.log, p.clock);
    // The simulated pad's control port, where varnel-pad stands at the pad.
    if (p.padControl)
        p.padControl->listen(
            p.stored.simulator.padControlPort.value_or(PadControlProtocol::kDefaultPort));
    // Pictures left waiting by an earlier run are tried again.
    p.outbox.start();
    return report;
}

void ServerLifecycle::shutdown()
{
    if (!m_started || m_shutDown)
        return;
    m_shutDown = true;
    m_purgeTimer.reset();
    // Uploads under way leave their pictures to the outbox, which then tries nothing more.
    m_parts.service.close();
    m_parts.outbox.close();
    m_parts.pad.runDisconnect();
    m_parts.log.finishPurges();
    m_parts.log.log(QStringLiteral("Application Closed"));
}
