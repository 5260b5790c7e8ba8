#pragma once

#include <QDateTime>

// Where the program reads the local date and time; tests inject a fixed or stepped clock.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // The whole seconds since 1970 UTC of now(); cheaper than now() where it is overridden.
    virtual qint64 secsSinceEpoch() const { return now().toSecsSinceEpoch(); }
};

// The machine's local time.
class SystemClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    qint64 secsSinceEpoch() const override { return QDateTime::currentSecsSinceEpoch(); }
};
