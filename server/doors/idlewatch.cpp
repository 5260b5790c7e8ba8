#include "doors/idlewatch.h"

IdleWatch::IdleWatch(int seconds, Expired expired, QObject* parent)
    : QObject(parent), m_seconds(seconds)
{
    m_timer.setSingleShot(true);
    // A coarse timer saves wake-ups; a few percent either way does not matter here.
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this,
            [this, expired = std::move(expired)] { expired(*this); });
    activity();
}

void IdleWatch::activity()
{
    if (m_seconds > 0)
        m_timer.start(m_seconds * 1000);
}
