#pragma once

#include <functional>

#include <QElapsedTimer>

// A condition that ends a wait early: checked each time the pending events have run.
using StopWhen = std::function<bool()>;

// One waiting step of a device operation: waits the given time while pending events
// (other clients' requests, connection events, timer ticks) run inside the wait.
class EventPump
{
public:
    virtual ~EventPump() = default;
    virtual void wait(int milliseconds) = 0;
    // The same step, ended early once `done` holds after events ran: a device answer that
    // arrives inside the step, or a requester that went away, is taken at once.
    virtual void waitUntil(int milliseconds, const StopWhen& done)
    {
        if (!done())
            wait(milliseconds);
    }
    // Lets the events that are already pending run, without waiting.
    virtual void processPending() = 0;
    // Waits until at least one event comes and lets it run: for a wait that an event ends
    // (a transfer's end) rather than a time. Without a real event loop, runs what is pending.
    virtual void waitForEvents() { processPending(); }
    // Milliseconds on a monotonic clock: waiting operations measure their limits with it, so
    // work that ran nested inside a step counts as the time it took.
    virtual qint64 elapsedMs() const = 0;
};

// The real pump: a nested event loop ended by a single-shot timer.
class QtEventPump final : public EventPump
{
public:
    QtEventPump() { m_clock.start(); }

    void wait(int milliseconds) override;
    void waitUntil(int milliseconds, const StopWhen& done) override;
    void processPending() override;
    void waitForEvents() override;
    qint64 elapsedMs() const override { return m_clock.elapsed(); }
    // The program is closing: every wait from now on, and the ones under way, end with
    // Failure(18), so waiting operations unwind instead of running their steps out.
    void interrupt() { m_interrupted = true; }

private:
    void throwIfInterrupted() const;

    QElapsedTimer m_clock;
    bool m_interrupted = false;
};
