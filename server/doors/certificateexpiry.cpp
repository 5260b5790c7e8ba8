#include "doors/certificateexpiry.h"

#include "log/activitylog.h"

namespace {

constexpr int kDayMs = 24 * 60 * 60 * 1000;

} // namespace

std::optional<QString> certificateExpiryNotice(const QDateTime& expiry, const QDateTime& now)
{
    const QDate end = expiry.toUTC().date();
    const qint64 days = now >= expiry ? 0 : std::max<qint64>(0, now.toUTC().date().daysTo(end));
    if (days > kCertificateNoticeDays)
        return std::nullopt;
    return QStringLiteral("WebSocket: CertFile expires=[%1] days=[%2]")
        .arg(end.toString(Qt::ISODate))
        .arg(days);
}

CertificateExpiryWatch::CertificateExpiryWatch(ActivityLog& log, QDateTime expiry, QObject* parent)
    : QObject(parent), m_log(log), m_expiry(std::move(expiry))
{
    connect(&m_daily, &QTimer::timeout, this, &CertificateExpiryWatch::check);
    m_daily.start(kDayMs);
    check();
}

void CertificateExpiryWatch::check()
{
    const std::optional<QString> line =
        certificateExpiryNotice(m_expiry, QDateTime::currentDateTimeUtc());
    if (!line)
        return;
    m_notice = *line;
    m_log.log(m_notice);
    Q_EMIT noticed(m_notice);
}
