#include "core/paymentserver.h"

#include "core/clock.h"
#include "core/eventpump.h"
#include "log/purgetimer.h"
#include "pinpad/pinpadunavailable.h"
#include "request/deviceoperations.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestserver.h"

namespace {

// --- pad: replaced by the signature pad subsystem once it is built ---
class PadUnavailable final : public PadOperations
{
public:
    PadUnavailable(ActivityLog& log, LiveSettings& settings, ReplyChannel& replies)
        : m_log(log), m_settings(settings), m_replies(replies)
    {
    }
    bool pad_enabled(bool logIfDisabled) override
    {
        const bool enabled = m_settings.chkQP6100Device() == LiveSettings::Ticked;
        if (!enabled && logIfDisabled)
            m_log.log(QStringLiteral("QP6100: Device is Not Enabled"));
        return enabled;
    }
    void clear_padVars() override {}
    void qp6100_get_swipe() override { unavailable(); }
    void qp6100_delete_signature(const QString&) override {}
    void set_account_var(const QString&) override {}
    void set_fullname_var(const QString&) override {}
    void setVar(const QString&) override {}
    void qp6100_get_signature(const QString&, bool, const QString&) override { unavailable(); }
    void pad_welcome() override {}

private:
    void unavailable()
    {
        QString reply =
            QStringLiteral("<QP6100><ERROR>No signature pad in this build</ERROR></QP6100>");
        m_replies.return_xml(reply, false);
    }
    ActivityLog& m_log;
    LiveSettings& m_settings;
    ReplyChannel& m_replies;
};

} // namespace

PaymentServer::PaymentServer(const ProgramFolder& folder, const Clock& clock, EventPump& pump,
                             QObject* parent)
    : QObject(parent), m_folder(folder), m_clock(clock), m_pump(pump),
      m_log(folder.logPath(), clock), m_settingsFile(folder.settingsPath(), m_log)
{
}

PaymentServer::~PaymentServer() = default;

bool PaymentServer::start(bool simulate, QString* reason)
{
    m_started = true;
    m_log.log(QStringLiteral("Application: Form load"));
    m_requests = std::make_unique<RequestServer>(m_log, m_settings, m_folder.signaturesPath());

    // --- pad: create the pad driver and its operations here, before the settings load ---
    m_pad = std::make_unique<PadUnavailable>(m_log, m_settings, *m_requests);

    m_pinPad = std::make_unique<PinPadUnavailable>(m_log, m_settings, *m_requests);
    m_dispatcher = std::make_unique<RequestDispatcher>(m_log, *m_requests, *m_pad, *m_pinPad);
    m_requests->setDispatcher(m_dispatcher.get());

    // No serial port scan is built in yet: the Comm Port list stays empty.
    m_settingsFile.load_settings(m_settings, [] {});
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
    // --- pad: run the pad's Disconnect command here ---
    m_log.log(QStringLiteral("Application Closed"));
}

void PaymentServer::mnuToolsLogFilePurgeLog()
{
    m_log.purge_log();
}
