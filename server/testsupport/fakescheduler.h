#pragma once

#include <functional>
#include <map>
#include <memory>
#include <utility>

#include "core/scheduler.h"

// Virtual time for operations: calls run only when the test advances the clock, in the order
// they fall due; a call that schedules another inside the span runs it too.
class FakeScheduler final : public Scheduler
{
public:
    qint64 elapsedMs() const override { return m_nowMs; }

    std::unique_ptr<ScheduledCall> callAfter(int milliseconds, std::function<void()> call) override
    {
        const Key key{m_nowMs + milliseconds, m_nextSequence++};
        m_due.emplace(key, std::move(call));
        return std::make_unique<Handle>(*this, key);
    }

    // Moves the clock `milliseconds` on, running every call that falls due on the way.
    void advance(qint64 milliseconds)
    {
        const qint64 end = m_nowMs + milliseconds;
        while (!m_due.empty() && m_due.begin()->first.first <= end) {
            auto first = m_due.begin();
            m_nowMs = std::max(m_nowMs, first->first.first);
            const std::function<void()> call = std::move(first->second);
            m_due.erase(first);
            ++m_callsRun;
            call();
        }
        m_nowMs = end;
    }
    // Runs calls until none is due within `limitMs` of virtual time; returns the time taken.
    qint64 runUntilIdle(qint64 limitMs = 3600 * 1000)
    {
        const qint64 start = m_nowMs;
        while (!m_due.empty() && m_due.begin()->first.first - start <= limitMs)
            advance(m_due.begin()->first.first - m_nowMs);
        return m_nowMs - start;
    }
    // Calls waiting to run, and calls run so far.
    std::size_t pending() const { return m_due.size(); }
    int callsRun() const { return m_callsRun; }

private:
    using Key = std::pair<qint64, quint64>;

    class Handle final : public ScheduledCall
    {
    public:
        Handle(FakeScheduler& owner, Key key) : m_owner(owner), m_key(key) {}
        ~Handle() override { m_owner.m_due.erase(m_key); }

    private:
        FakeScheduler& m_owner;
        Key m_key;
    };

    qint64 m_nowMs = 0;
    quint64 m_nextSequence = 0;
    int m_callsRun = 0;
    std::map<Key, std::function<void()>> m_due;
};
