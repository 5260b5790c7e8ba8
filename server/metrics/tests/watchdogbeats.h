// The rule the watchdog's beats keep, as both the unit and the end-to-end tests check it.
#pragma once

#include <gtest/gtest.h>

#include <QList>

// Beats (times in ms, after READY at `readyAt`) come about half of systemd's interval apart on
// average, and never a whole interval apart: a loaded machine may delay one, not miss the deadline.
inline void expectBeatsAtHalfTheInterval(qint64 readyAt, const QList<qint64>& beats, int intervalMs)
{
    ASSERT_GE(beats.size(), 4);
    const double meanGap = double(beats.last() - beats.first()) / double(beats.size() - 1);
    EXPECT_GT(meanGap, intervalMs * 0.4);
    EXPECT_LT(meanGap, intervalMs * 0.7);
    qint64 last = readyAt;
    for (const qint64 at : beats) {
        EXPECT_LT(at - last, intervalMs);
        last = at;
    }
}
