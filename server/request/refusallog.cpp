#include "request/refusallog.h"

RefusalLog::RefusalLog(std::function<void(const QString&)> write, QObject* parent)
    : QObject(parent), m_write(std::move(write))
{
    m_pending.setSingleShot(true);
    connect(&m_pending, &QTimer::timeout, this, &RefusalLog::flush);
}

void RefusalLog::refused(const QString& reason)
{
    ++m_count;
    m_reason = reason;
    if (!m_sinceLine.isValid() || m_sinceLine.elapsed() >= kIntervalMs)
        flush();
    else if (!m_pending.isActive())
        m_pending.start(int(kIntervalMs - m_sinceLine.elapsed()));
}

void RefusalLog::flush()
{
    if (m_count == 0)
        return;
    m_write(QStringLiteral("Socket: ConnectionRequest Refused count=[") + QString::number(m_count) +
            QStringLiteral("] reason=[") + m_reason + QLatin1Char(']'));
    m_count = 0;
    m_sinceLine.start();
}
