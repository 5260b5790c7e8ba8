#pragma once

#include "core/clock.h"

// A clock that shows whatever the test sets.
class FakeClock final : public Clock
{
public:
    explicit FakeClock(QDateTime start) : m_now(std::move(start)) {}
    QDateTime now() const override { return m_now; }
    void set(const QDateTime& when) { m_now = when; }
    void advanceMs(qint64 ms) { m_now = m_now.addMSecs(ms); }

private:
    QDateTime m_now;
};
