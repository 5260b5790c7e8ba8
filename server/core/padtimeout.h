#pragma once

#include <QtGlobal>

// How long a pad or PIN pad operation waits for the customer, in seconds. A request's TIMER
// sets it and it keeps its value for the requests after it, on every connection; the waiting
// operations read it again at every step, so a TIMER that arrives during a wait counts at once.
class PadTimeout
{
public:
    // The waiting limit that 0 stands for.
    static constexpr qint16 kDefaultSeconds = 60;

    qint16 seconds() const { return m_seconds; }
    void setSeconds(qint16 seconds) { m_seconds = seconds; }

private:
    qint16 m_seconds = 0;
};
