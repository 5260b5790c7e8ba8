#include "core/paymentserver.h"

#include "core/clock.h"
#include "core/eventpump.h"
#include "log/purgetimer.h"
#include "pad/filechooser.h"
#include "pad/padcontrolserver.h"
#include "pad/signaturepad.h"
#include "pad/simulatedpad.h"
#include "pinpad/commportscan.h"
#include "pinpad/pinentry.h"
#include "request/deviceoperations.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestserver.h"

PaymentServer::PaymentServer(const ProgramFolder& folder, const Clock& clock, EventPump& pump,
                             PinPadDevice& pinPad, SerialProbe& serialProbe, QObject* parent)
    : QObject(parent), m_folder(folder), m_clock(clock), m_pump(pump), m_pinPadDevice(pinPad),
      m_serialProbe(serialProbe), m_log(folder.logPath(), clock),
      m_settingsFile(folder.settingsPath(), m_log)
{
}

PaymentServer::~PaymentServer() = default;

bool PaymentServer::start(bool simulate, QString* reason)
{
    m_started = true;
    m_log.log(QStringLiteral("Application: Form load"));
    m_requests = std::make_unique<RequestServer>(m_log, m_settings, m_folder.signaturesPath());

    // The pad driver exists before the settings load, which may already connect the pad.
    m_simulatedPad = std::make_unique<SimulatedPad>();
    m_padControl = std::make_unique<PadControlServer>(*m_simulatedPad, m_log);
    // Without its control port the pad still works; it has logged why it cannot listen.
    m_padControl->listen(PadControlServer::configuredPort(m_folder.settingsPath()));
    m_fileChooser = std::make_unique<NoFileChooser>();
    m_pad = std::make_unique<SignaturePad>(*m_simulatedPad, m_settings, m_log, *m_requests, m_pump,
                                           m_requests->padTimeout(), *m_fileChooser);

    m_pinPad = std::make_unique<PinEntry>(m_pinPadDevice, m_settings, m_log, *m_requests);
    m_dispatcher = std::make_unique<RequestDispatcher>(m_log, *m_requests, *m_pad, *m_pinPad);
    m_requests->setDispatcher(m_dispatcher.get());

    m_commPortScan =
        std::make_unique<CommPortScan>(m_serialProbe, m_settings, m_log, m_folder.settingsPath());
    m_settingsFile.load_settings(m_settings, [this] { m_commPortScan->list_comm_ports(); });
    if (simulate)
        m_settings.setChkQP6100Device(LiveSettings::Ticked);

    if (!m_requests->start_listening(reason))
        return false;
    mnuToolsLogFilePurgeLog();
    m_purgeTimer = new PurgeTimer(m_log, m_clock, this);
    return true;
}

void PaymentServer::shutdown()
{
    if (!m_started || m_shutDown)
        return;
    m_shutDown = true;
    if (m_pad)
        m_pad->connection().runDisconnect();
    m_log.log(QStringLiteral("Application Closed"));
}

void PaymentServer::mnuToolsLogFilePurgeLog()
{
    m_log.purge_log();
}
