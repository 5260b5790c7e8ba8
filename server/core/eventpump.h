#pragma once

// One waiting step of a device operation: waits the given time while pending events
// (other clients' requests, connection events, timer ticks) run inside the wait.
class EventPump
{
public:
    virtual ~EventPump() = default;
    virtual void wait(int milliseconds) = 0;
    // Lets the events that are already pending run, without waiting.
    virtual void processPending() = 0;
};

// The real pump: a nested event loop ended by a single-shot timer.
class QtEventPump final : public EventPump
{
public:
    void wait(int milliseconds) override;
    void processPending() override;
};
