// The certificate notice: from 30 calendar days (UTC) before the end, days=[0] once ended.
#include <gtest/gtest.h>

#include "doors/certificateexpiry.h"

TEST(CertificateExpiry, NoticeFromThirtyDaysBeforeTheEndAndAfterIt)
{
    const QDateTime end(QDate(2027, 3, 15), QTime(4, 30), Qt::UTC);
    const struct
    {
        QDateTime now;
        const char* expected; // nullptr: no notice
    } cases[] = {
        {end.addDays(-400), nullptr},
        {QDateTime(QDate(2027, 2, 12), QTime(23, 59), Qt::UTC), nullptr},
        {QDateTime(QDate(2027, 2, 13), QTime(0, 0), Qt::UTC), "days=[30]"},
        {end.addDays(-10), "days=[10]"},
        // Later the same day it is 0 days, still served.
        {end.addSecs(-60), "days=[0]"},
        {end, "days=[0]"},
        {end.addDays(90), "days=[0]"},
        // Local times count by their UTC day.
        {QDateTime(QDate(2027, 3, 14), QTime(23, 0), Qt::OffsetFromUTC, -3 * 3600), "days=[0]"},
    };
    for (const auto& entry : cases) {
        const std::optional<QString> notice = certificateExpiryNotice(end, entry.now);
        if (!entry.expected) {
            EXPECT_FALSE(notice) << qPrintable(entry.now.toString(Qt::ISODate));
            continue;
        }
        EXPECT_EQ(notice.value_or(QString()),
                  QStringLiteral("WebSocket: CertFile expires=[2027-03-15] ") +
                      QLatin1String(entry.expected))
            << qPrintable(entry.now.toString(Qt::ISODate));
    }
}
