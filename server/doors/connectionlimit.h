#pragma once

#include <utility>

#include "core/telemetry.h"
#include "settings/settings.h"

class ActivityLog;

// The cap on open client connections, shared by every door that accepts clients: a client
// over the cap is closed at once, so one client cannot use up the descriptors the server
// needs for its log, its devices and everyone else.
class ConnectionLimit
{
public:
    // Descriptors the cap leaves to the log, the devices, uploads and the pad's control port,
    // below the process's file limit.
    static constexpr int kReservedDescriptors = 32;

    explicit ConnectionLimit(int max = LocalSettings::kDefaultMaxConnections) : m_max(max) {}

    int max() const { return m_max; }
    void setMax(int max) { m_max = max; }
    int open() const { return m_open; }

    // Raises the process's soft file limit to its hard one (every client takes a descriptor),
    // then lowers the cap (logged) where the limit still leaves less room than the cap allows.
    // Called once at start-up, before any door opens.
    void fitToFileLimit(ActivityLog& log);

    // Counts one more open connection; false, counting nothing, when the cap is reached.
    bool admit()
    {
        if (m_open >= m_max)
            return false;
        ++m_open;
        return true;
    }
    // One admitted connection has closed.
    void release()
    {
        if (m_open > 0)
            --m_open;
    }

private:
    int m_max = LocalSettings::kDefaultMaxConnections;
    int m_open = 0;
};

// One admitted connection's place under the cap, given back when it is destroyed or
// giveBack() is called, whichever comes first.
class CapPlace
{
public:
    // The connection came through `door`; its end is told to `telemetry`.
    CapPlace(ConnectionLimit& limit, Telemetry& telemetry, Door door)
        : m_limit(&limit), m_telemetry(&telemetry), m_door(door)
    {
        m_telemetry->connectionOpened(m_door);
    }
    CapPlace(CapPlace&& other) noexcept
        : m_limit(std::exchange(other.m_limit, nullptr)), m_telemetry(other.m_telemetry),
          m_door(other.m_door)
    {
    }
    CapPlace& operator=(CapPlace&& other) noexcept
    {
        if (this != &other) {
            giveBack();
            m_limit = std::exchange(other.m_limit, nullptr);
            m_telemetry = other.m_telemetry;
            m_door = other.m_door;
        }
        return *this;
    }
    CapPlace(const CapPlace&) = delete;
    CapPlace& operator=(const CapPlace&) = delete;
    ~CapPlace() { giveBack(); }

    void giveBack()
    {
        if (ConnectionLimit* limit = std::exchange(m_limit, nullptr)) {
            limit->release();
            m_telemetry->connectionClosed(m_door);
        }
    }

private:
    ConnectionLimit* m_limit;
    Telemetry* m_telemetry;
    Door m_door;
};
