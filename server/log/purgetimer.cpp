#include "log/purgetimer.h"

#include "core/clock.h"
#include "log/activitylog.h"

PurgeTimer::PurgeTimer(ActivityLog& log, const Clock& clock, QObject* parent)
    : QObject(parent), m_log(log), m_clock(clock)
{
    // A coarse timer may fire seconds early or late; a precise one keeps the ticks inside
    // their minutes, so minute 16 is not skipped.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(kIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &PurgeTimer::tmrPurge_Timer);
    m_timer.start();
}

void PurgeTimer::tmrPurge_Timer()
{
    if (m_clock.now().time().minute() != kPurgeMinute)
        return;
    m_log.log(QStringLiteral("tmrPurge: starting purge log"));
    m_log.purge_log();
}
