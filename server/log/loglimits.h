#pragma once

#include <QtGlobal>

// How large the activity log may grow, `[Local] MaxLogMegabytes`: a write that takes the log
// near the cap (past it, where the purge runs within the call) drops its oldest lines until it
// holds at most half the cap.
struct LogLimits
{
    static constexpr int kDefaultMaxMegabytes = 256;
    static constexpr int kLowestMaxMegabytes = 1;
    static constexpr int kHighestMaxMegabytes = 100000;
    static constexpr qint64 kBytesPerMegabyte = 1024 * 1024;

    int maxMegabytes = kDefaultMaxMegabytes;

    qint64 maxBytes() const { return qint64(maxMegabytes) * kBytesPerMegabyte; }
};
