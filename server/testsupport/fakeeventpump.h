#pragma once

#include <functional>

#include "core/eventpump.h"

// Virtual time: each wait adds to the elapsed counter at once and runs the test's hook,
// which stands for the events that would arrive during the step.
class FakeEventPump final : public EventPump
{
public:
    void wait(int milliseconds) override
    {
        ++m_steps;
        m_elapsedMs += milliseconds;
        if (onStep)
            onStep(m_steps);
    }
    void processPending() override
    {
        if (onPending)
            onPending();
    }

    // Time that nested work took inside a step, without a step of its own.
    void advance(int milliseconds) { m_elapsedMs += milliseconds; }

    int steps() const { return m_steps; }
    qint64 elapsedMs() const override { return m_elapsedMs; }

    // Runs after every step, with the step's number (1 for the first).
    std::function<void(int)> onStep;
    std::function<void()> onPending;

private:
    int m_steps = 0;
    qint64 m_elapsedMs = 0;
};
