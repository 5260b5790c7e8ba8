#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QCoreApplication>

#include "core/scheduler.h"
#include "request/operation.h"

// The main loop's scheduler with the pad's waiting steps made free: while `skipWaits` holds,
// each call runs as soon as the loop is free and the clock counts the time it stood for.
// Benchmarks measure what follows the read that finds the customer's input, not the wait.
class NoWaitScheduler final : public Scheduler
{
public:
    bool skipWaits = true;

    qint64 elapsedMs() const override { return m_real.elapsedMs() + m_skippedMs; }
    std::unique_ptr<ScheduledCall> callAfter(int milliseconds, std::function<void()> call) override
    {
        if (!skipWaits)
            return m_real.callAfter(milliseconds, std::move(call));
        return m_real.callAfter(0, [this, milliseconds, call = std::move(call)] {
            m_skippedMs += milliseconds;
            call();
        });
    }

private:
    QtScheduler m_real;
    qint64 m_skippedMs = 0;
};

// Starts `operation` and runs the main loop until it has finished; how it ended.
inline Outcome runToEnd(Operation& operation)
{
    std::optional<Outcome> ended;
    operation.start([&](Outcome end) { ended = std::move(end); });
    while (!ended)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return *ended;
}
