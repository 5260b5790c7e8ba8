#include "pinpad/pinpadunavailable.h"

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "request/replychannel.h"

namespace {
QString errorReply(const QString& message)
{
    return QStringLiteral("<1000SE><ERROR>") + message + QStringLiteral("</ERROR></1000SE>");
}
} // namespace

PinPadUnavailable::PinPadUnavailable(ActivityLog& log, LiveSettings& settings,
                                     ReplyChannel& replies)
    : m_log(log), m_settings(settings), m_replies(replies)
{
    QObject::connect(&m_settings, &LiveSettings::chk1000SEDeviceClick, &m_settings,
                     [this] { chk1000SEDevice_Click(); });
}

bool PinPadUnavailable::pinpad_enabled(bool logIfDisabled)
{
    const bool enabled = m_settings.chk1000SEDevice() == LiveSettings::Ticked;
    if (!enabled && logIfDisabled)
        m_log.log(QStringLiteral("1000SE: Device is Not Enabled"));
    return enabled;
}

void PinPadUnavailable::chk1000SEDevice_Click()
{
    m_settings.fields1000SEEnabled = m_settings.chk1000SEDevice() == LiveSettings::Ticked;
    m_settings.notifyChanged();
}

void PinPadUnavailable::pinPad1000se_get_pin(const QString& creditCard, const QString& total)
{
    m_log.log(QStringLiteral("pinPad1000se_get_pin: start"));
    QString reply;
    if (!pinpad_enabled(true)) {
        reply = errorReply(QStringLiteral("PinPAD 1000 SE not Enabled in Varnel Payment Setup"));
    } else if (creditCard.isEmpty() || total.isEmpty()) {
        reply = errorReply(QStringLiteral("PinPAD Requires Credit Card # and Transaction Total"));
    } else {
        m_log.log(QStringLiteral("pinPad1000se_get_pin: no PIN pad device in this build"));
        reply = errorReply(QStringLiteral("Error Initializing Pad"));
    }
    m_replies.return_xml(reply, false);
}
