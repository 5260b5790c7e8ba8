#include "pad/padwait.h"

#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"

PadWait::PadWait(const PadContext& pad, Naming naming) : m_pad(pad), m_naming(std::move(naming)) {}

void PadWait::start(Finished finished)
{
    m_finished = std::move(finished);
    if (!m_pad.connection.pad_enabled(true)) {
        finish(notEnabled());
        return;
    }
    if (m_pad.padTimeout.seconds() == 0)
        m_pad.padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    log(QStringLiteral("timeout=[") + QString::number(m_pad.padTimeout.seconds()) +
        QLatin1Char(']'));
    try {
        m_startedMs = m_pad.scheduler.elapsedMs();
        prepare();
        scheduleStep();
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void PadWait::scheduleStep()
{
    // Due a whole number of steps after the start, not after the last step ran: a late step
    // does not push the ones after it.
    const qint64 dueMs = m_startedMs + qint64(m_steps + 1) * kStepMs;
    const qint64 waitMs = qMax<qint64>(0, dueMs - m_pad.scheduler.elapsedMs());
    m_step = m_pad.scheduler.callAfter(int(waitMs), [this] { step(); });
}

void PadWait::step()
{
    const qint64 sinceStartMs = m_pad.scheduler.elapsedMs() - m_startedMs;
    // A timer may fire a little early; the step waits for its time.
    if (sinceStartMs < qint64(m_steps + 1) * kStepMs) {
        scheduleStep();
        return;
    }
    // A loop held up by other work skips the steps it missed rather than catching up.
    m_steps = int(sinceStartMs / kStepMs);
    try {
        // Read the shared limit afresh: a request served during the step may have set it.
        if (sinceStartMs >= qint64(m_pad.padTimeout.seconds()) * 1000) {
            log(m_naming.timeoutText);
            m_pad.connection.show_pad_form(PadForm::kWelcome);
            finish(outcome::TimedOut{});
            return;
        }
        if (readPad())
            return;
        scheduleStep();
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void PadWait::clientGone()
{
    if (!answering())
        return;
    m_step.reset();
    // Nobody waits for the pad any more: it is free for the till's retry.
    log(QStringLiteral("client gone"));
    try {
        m_pad.connection.show_pad_form(PadForm::kWelcome);
    } catch (const Failure& failure) {
        log(errorNumberText(failure.code()));
    }
    finish(outcome::ClientGone{});
}

void PadWait::close()
{
    // Ends as an interrupted wait always has: its error line and reply, the pad left as is.
    if (answering())
        fail(FailureCode::Interrupted);
    m_step.reset();
}

void PadWait::afterReply()
{
    m_pad.variables.clear_padVars();
}

void PadWait::fail(int code)
{
    log(errorNumberText(code));
    finish(outcome::Failed{m_naming.operation, code});
}

void PadWait::finish(Outcome outcome)
{
    m_step.reset();
    finishOnce(m_finished, std::move(outcome));
}

void PadWait::log(const QString& text)
{
    m_pad.log.log(m_naming.logName + QStringLiteral(": ") + text);
}
