#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QtGlobal>

// A condition that ends an operation early: checked at each of its steps.
using StopWhen = std::function<bool()>;

// A call that the main event loop makes later; destroying the handle cancels it.
class ScheduledCall
{
public:
    virtual ~ScheduledCall() = default;
};

// Where device operations ask to be woken: a monotonic clock and one-shot calls that the main
// event loop makes. Nothing waits in place; tests run the calls in virtual time.
class Scheduler
{
public:
    virtual ~Scheduler() = default;
    // Milliseconds on a monotonic clock: operations measure their limits with it.
    virtual qint64 elapsedMs() const = 0;
    // Calls `call` once, `milliseconds` from now (0: as soon as the loop is free), from the
    // main event loop and never inside this call. Destroying the handle first cancels it.
    [[nodiscard]] virtual std::unique_ptr<ScheduledCall> callAfter(int milliseconds,
                                                                   std::function<void()> call) = 0;
};

// The real scheduler: Qt timers of the main event loop.
class QtScheduler final : public Scheduler
{
public:
    QtScheduler() { m_clock.start(); }

    qint64 elapsedMs() const override { return m_clock.elapsed(); }
    std::unique_ptr<ScheduledCall> callAfter(int milliseconds, std::function<void()> call) override;

private:
    QElapsedTimer m_clock;
};
