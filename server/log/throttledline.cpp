#include "log/throttledline.h"

ThrottledLine::ThrottledLine(std::function<void(const QString&)> write, Format format,
                             QObject* parent)
    : QObject(parent), m_write(std::move(write)), m_format(std::move(format))
{
    m_pending.setSingleShot(true);
    // A lambda, not a member slot: this may run with every descriptor in use, when the
    // undefined-behaviour checker cannot check a slot receiver's type (it needs a pipe).
    connect(&m_pending, &QTimer::timeout, this, [this] { flush(); });
}

void ThrottledLine::happened(const QString& detail)
{
    ++m_count;
    m_detail = detail;
    if (!m_sinceLine.isValid() || m_sinceLine.elapsed() >= kIntervalMs)
        flush();
    else if (!m_pending.isActive())
        m_pending.start(int(kIntervalMs - m_sinceLine.elapsed()));
}

QString ThrottledLine::withCount(const QString& line, int count)
{
    return count == 1
               ? line
               : line + QStringLiteral(" count=[") + QString::number(count) + QLatin1Char(']');
}

void ThrottledLine::flush()
{
    if (m_count == 0)
        return;
    m_write(m_format(m_count, m_detail));
    m_count = 0;
    m_sinceLine.start();
}
