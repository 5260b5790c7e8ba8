#include "pad/cardswipe.h"

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"
#include "request/replychannel.h"

namespace {
bool holdsData(const QString& track)
{
    return !track.isEmpty() && track != QString(QChar(0));
}
} // namespace

CardSwipe::CardSwipe(PadDriver& driver, PadConnection& connection, PadVariables& variables,
                     ActivityLog& log, ReplyChannel& replies, EventPump& pump,
                     PadTimeout& padTimeout)
    : m_driver(driver), m_connection(connection), m_variables(variables), m_log(log),
      m_replies(replies), m_pump(pump), m_padTimeout(padTimeout)
{
}

void CardSwipe::reply(QString xml, bool skipDebug)
{
    m_replies.return_xml(xml, skipDebug);
}

void CardSwipe::qp6100_get_swipe()
{
    if (!m_connection.pad_enabled(true)) {
        reply(QStringLiteral(
                  "<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>"),
              false);
        return;
    }

    if (m_padTimeout.seconds() == 0)
        m_padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    m_log.log(QStringLiteral("qp6100_get_swipe: timeout=[") +
              QString::number(m_padTimeout.seconds()) + QLatin1Char(']'));

    try {
        QString track1;
        QString track2;
        const StopWhen clientGone = m_replies.requesterGone();
        const qint64 started = m_pump.elapsedMs();
        m_variables.set_track_vars();
        m_connection.show_pad_form(PadForm::kStart);
        for (;;) {
            m_pump.waitUntil(kStepMs, clientGone);
            m_pump.processPending();
            if (clientGone()) {
                // Nobody waits for the card any more: the pad is free for the till's retry.
                m_log.log(QStringLiteral("qp6100_get_swipe: client gone"));
                m_connection.show_pad_form(PadForm::kWelcome);
                return;
            }
            // Read the shared limit afresh: a request served during the step may have set it.
            if (m_pump.elapsedMs() - started >= qint64(m_padTimeout.seconds()) * 1000) {
                m_log.log(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout"));
                m_connection.show_pad_form(PadForm::kWelcome);
                reply(QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"), false);
                return;
            }
            qint16 status = 0;
            m_driver.GetVariable(PadVariable::kTrack1, track1, status);
            if (status != 0) {
                qint16 ignored = 0;
                m_driver.GetVariable(PadVariable::kTrack2, track2, ignored);
            }
            if (holdsData(track1))
                break;
        }
        // Card data: the reply channel logs only that it went out.
        reply(QStringLiteral("<QP6100><SWIPE><TRACK1>") + track1 +
                  QStringLiteral("</TRACK1><TRACK2>") + track2 +
                  QStringLiteral("</TRACK2></SWIPE></QP6100>"),
              true);
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("qp6100_get_swipe: ") + errorNumberText(failure.code()));
        reply(QStringLiteral("<QP6100><ERROR>Error Getting Swipe: ") +
                  errorNumberText(failure.code()) + QStringLiteral("</ERROR></QP6100>"),
              false);
    }
}
