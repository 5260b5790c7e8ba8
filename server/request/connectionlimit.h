#pragma once

#include "settings/storedsettings.h"

// The cap on open client connections, shared by every door that accepts clients: a client
// over the cap is closed at once, so one client cannot use up the descriptors the server
// needs for its log, its devices and everyone else.
class ConnectionLimit
{
public:
    int max() const { return m_max; }
    void setMax(int max) { m_max = max; }
    int open() const { return m_open; }

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
    int m_max = StoredSettings::kDefaultMaxConnections;
    int m_open = 0;
};
