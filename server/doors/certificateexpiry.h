#pragma once

#include <optional>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

class ActivityLog;

// How close to its end a certificate is logged.
constexpr int kCertificateNoticeDays = 30;

// The line logged when it is `now` for a certificate that ends at `expiry`:
// "WebSocket: CertFile expires=[YYYY-MM-DD] days=[N]", N counting calendar days (UTC) and 0
// once it has ended; nothing while more than kCertificateNoticeDays are left.
std::optional<QString> certificateExpiryNotice(const QDateTime& expiry, const QDateTime& now);

// Watches the served certificate's end: logs the notice at once and then once a day. An
// ended certificate is still served; only the log says so.
class CertificateExpiryWatch : public QObject
{
    Q_OBJECT

public:
    CertificateExpiryWatch(ActivityLog& log, QDateTime expiry, QObject* parent = nullptr);

    // The certificate's end in seconds since 1970 (UTC).
    qint64 expirySeconds() const { return m_expiry.toSecsSinceEpoch(); }
    // The last notice logged; empty while the end is far.
    const QString& notice() const { return m_notice; }

Q_SIGNALS:
    // A notice was logged (at start and then daily while the end is near).
    void noticed(const QString& line);

private:
    void check();

    ActivityLog& m_log;
    QDateTime m_expiry;
    QString m_notice;
    QTimer m_daily;
};
