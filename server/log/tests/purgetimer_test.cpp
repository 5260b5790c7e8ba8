#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "fakeclock.h"
#include "log/activitylog.h"
#include "log/purgetimer.h"
#include "testfiles.h"

using namespace TestFiles;

namespace {

QDateTime todayAt(int hour, int minute, int second = 0)
{
    return QDateTime(QDate(2026, 12, 7), QTime(hour, minute, second));
}

} // namespace

TEST(PurgeTimer, TicksOnceAMinute)
{
    FakeClock clock(todayAt(10, 0));
    ActivityLog log(QStringLiteral("unused.log"), clock);
    const PurgeTimer timer(log, clock);
    EXPECT_TRUE(timer.timer().isActive());
    EXPECT_EQ(timer.timer().interval(), 60'000);
}

TEST(PurgeTimer, PurgesOnlyAtMinuteSixteen)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("varnelpayment.log"));
    FakeClock clock(todayAt(10, 15, 59));
    ActivityLog log(path, clock);
    PurgeTimer timer(log, clock);
    writeAll(path, "11/1/2026 1:00:00 AM: old\r\n");

    timer.tmrPurge_Timer();
    EXPECT_EQ(lines(path).size(), 1) << "10:15 purges nothing";

    clock.set(todayAt(10, 16, 30));
    timer.tmrPurge_Timer();
    QList<QByteArray> entries;
    for (const QByteArray& line : lines(path))
        entries.append(entryOf(line));
    const QList<QByteArray> expected = {"tmrPurge: starting purge log", "purge_log: started",
                                        "purge_log: purgeCt=[ 1]", "purge_log: finished"};
    EXPECT_EQ(entries, expected);

    clock.set(todayAt(10, 17, 0));
    timer.tmrPurge_Timer();
    clock.set(todayAt(11, 6, 0));
    timer.tmrPurge_Timer();
    EXPECT_EQ(lines(path).size(), 4) << "10:17 and 11:06 purge nothing";
}
