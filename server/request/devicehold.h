#pragma once

// Marks a device as held by the one customer operation that waits on it; other requests that
// would wait on it are refused while it is held. Nested requests run inside the holder's
// waits, so the hold is a flag, not a lock.
class DeviceHold
{
public:
    bool isHeld() const { return m_held; }

    // Holds the device for its lifetime, also when the operation fails.
    class Scope
    {
    public:
        explicit Scope(DeviceHold& hold) : m_hold(hold) { m_hold.m_held = true; }
        ~Scope() { m_hold.m_held = false; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        DeviceHold& m_hold;
    };

private:
    bool m_held = false;
};
