#pragma once

#include <QObject>
#include <QTimer>

class ActivityLog;
class Clock;

// The main window's one-minute timer `tmrPurge`: purges the log once an hour, at minute 16.
// It runs from its creation until it is destroyed.
class PurgeTimer : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 60'000;
    static constexpr int kPurgeMinute = 16;

    PurgeTimer(ActivityLog& log, const Clock& clock, QObject* parent = nullptr);

    // The timer's tick: purges the log when the clock shows minute 16 of the hour.
    void tmrPurge_Timer();
    const QTimer& timer() const { return m_timer; }

private:
    ActivityLog& m_log;
    const Clock& m_clock;
    QTimer m_timer;
};
