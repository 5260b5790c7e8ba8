#pragma once

// Marks a device as held by the one customer operation that waits on it; other requests that
// would wait on it are refused while it is held.
class DeviceHold
{
public:
    bool isHeld() const { return m_held; }
    void take() { m_held = true; }
    void release() { m_held = false; }

private:
    bool m_held = false;
};
