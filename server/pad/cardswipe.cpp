#include "pad/cardswipe.h"

#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"
#include "request/replytext.h"

namespace {
bool holdsData(const QString& track)
{
    return !track.isEmpty() && track != QString(QChar(0));
}
} // namespace

CardSwipe::CardSwipe(const PadContext& pad, StopWhen clientGone)
    : m_pad(pad), m_clientGone(std::move(clientGone))
{
}

void CardSwipe::start(Finished finished)
{
    m_finished = std::move(finished);
    if (!m_pad.connection.pad_enabled(true)) {
        finish(Reply{padNotSetupReply(), false});
        return;
    }
    if (m_pad.padTimeout.seconds() == 0)
        m_pad.padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    m_pad.log.log(QStringLiteral("qp6100_get_swipe: timeout=[") +
                  QString::number(m_pad.padTimeout.seconds()) + QLatin1Char(']'));
    try {
        m_startedMs = m_pad.scheduler.elapsedMs();
        m_pad.variables.set_track_vars();
        m_pad.connection.show_pad_form(PadForm::kStart);
        m_step = m_pad.scheduler.callAfter(kStepMs, [this] { step(); });
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void CardSwipe::step()
{
    try {
        if (m_clientGone && m_clientGone()) {
            // Nobody waits for the card any more: the pad is free for the till's retry.
            m_pad.log.log(QStringLiteral("qp6100_get_swipe: client gone"));
            m_pad.connection.show_pad_form(PadForm::kWelcome);
            finish(std::nullopt);
            return;
        }
        // Read the shared limit afresh: a request served during the step may have set it.
        if (m_pad.scheduler.elapsedMs() - m_startedMs >=
            qint64(m_pad.padTimeout.seconds()) * 1000) {
            m_pad.log.log(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout"));
            m_pad.connection.show_pad_form(PadForm::kWelcome);
            finish(Reply{padTimeoutReply(), false});
            return;
        }
        QString track1;
        qint16 status = 0;
        m_pad.driver.GetVariable(PadVariable::kTrack1, track1, status);
        if (status != 0) {
            qint16 ignored = 0;
            m_pad.driver.GetVariable(PadVariable::kTrack2, m_track2, ignored);
        }
        if (holdsData(track1)) {
            // Card data: the log shows only that the reply went out.
            finish(Reply{swipeReply(track1, m_track2), true});
            return;
        }
        m_step = m_pad.scheduler.callAfter(kStepMs, [this] { step(); });
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void CardSwipe::fail(int code)
{
    m_pad.log.log(QStringLiteral("qp6100_get_swipe: ") + errorNumberText(code));
    finish(Reply{swipeErrorReply(code), false});
}

void CardSwipe::finish(std::optional<Reply> reply)
{
    m_step.reset();
    finishOnce(m_finished, std::move(reply));
}

void CardSwipe::close()
{
    // Ends as an interrupted wait always has: its error line and reply, the pad left as is.
    if (m_finished)
        fail(FailureCode::Interrupted);
    m_step.reset();
}
