#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "core/scheduler.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "testfiles.h"

using namespace TestFiles;
using namespace Qt::StringLiterals;

namespace {

QDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

QByteArray logLine(const QDateTime& when, const QByteArray& entry)
{
    return ActivityLog::timestamp(when).toLatin1() + ": " + entry + "\r\n";
}

QList<QByteArray> entries(const QList<QByteArray>& lines)
{
    QList<QByteArray> result;
    for (const QByteArray& line : lines)
        result.append(entryOf(line));
    return result;
}

} // namespace

class PurgeLog : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    FakeClock m_clock{at(2026, 12, 7, 10, 16, 0)};
    QString m_path = m_dir.filePath(QStringLiteral("varnelpayment.log"));
    ActivityLog m_log{m_path, m_clock};

    bool workFilesLeft() const
    {
        return QFileInfo::exists(m_path + QLatin1String(".tmp")) ||
               QFileInfo::exists(m_path + QLatin1String(".new"));
    }
};

// Whatever the time of day on 12/7/2026, 11/30/2026 and earlier go, 12/1/2026 and later stay.
class PurgeLogCutOff : public PurgeLog, public ::testing::WithParamInterface<QTime>
{
};

TEST_P(PurgeLogCutOff, KeepsTodayAndTheSixDaysBefore)
{
    writeAll(m_path, logLine(at(2025, 12, 6, 9, 0, 0), "old year") +
                         logLine(at(2026, 9, 30, 9, 0, 0), "old september") +
                         logLine(at(2026, 11, 29, 13, 0, 0), "old 29th") +
                         logLine(at(2026, 11, 30, 23, 59, 59), "old cut-off day") +
                         logLine(at(2026, 12, 1, 0, 0, 0), "first kept") +
                         logLine(at(2026, 12, 1, 23, 59, 59), "kept late") +
                         logLine(at(2026, 12, 6, 3, 0, 0), "kept 6th") +
                         logLine(at(2026, 12, 7, 0, 0, 0), "kept today"));
    m_clock.set(QDateTime(QDate(2026, 12, 7), GetParam()));

    m_log.purge_log();

    const QList<QByteArray> kept = entries(lines(m_path));
    const QList<QByteArray> expected = {"first kept",         "kept late",
                                        "kept 6th",           "kept today",
                                        "purge_log: started", "purge_log: purgeCt=[ 4]",
                                        "purge_log: finished"};
    EXPECT_EQ(kept, expected);
    EXPECT_FALSE(workFilesLeft());
}

INSTANTIATE_TEST_SUITE_P(TimesOfDay, PurgeLogCutOff,
                         ::testing::Values(QTime(0, 0, 1), QTime(12, 0, 0), QTime(23, 59, 59)));

TEST_F(PurgeLog, WithNothingToDropLeavesTheLogOwnerOnlyAndNoWorkFiles)
{
    const QByteArray before = logLine(at(2026, 12, 6, 8, 0, 0), "Socket: a") +
                              logLine(at(2026, 12, 7, 9, 0, 0), "Socket: b");
    writeAll(m_path, before);
    QFile(m_path).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ReadOther);

    m_log.purge_log();

    EXPECT_EQ(readAll(m_path), before + logLine(m_clock.now(), "purge_log: started") +
                                   logLine(m_clock.now(), "purge_log: purgeCt=[ 0]") +
                                   logLine(m_clock.now(), "purge_log: finished"));
    EXPECT_EQ(unixMode(m_path), 0600);
    EXPECT_FALSE(workFilesLeft());
}

TEST_F(PurgeLog, RemovesWorkFilesLeftByAnInterruptedPurge)
{
    writeAll(m_path + QLatin1String(".tmp"), logLine(at(2026, 12, 7, 1, 0, 0), "stale tmp"));
    writeAll(m_path + QLatin1String(".new"), logLine(at(2026, 12, 7, 1, 0, 0), "stale new"));
    writeAll(m_path, logLine(at(2026, 12, 7, 2, 0, 0), "current"));

    m_log.purge_log();

    const QList<QByteArray> kept = entries(lines(m_path));
    EXPECT_EQ(kept.first(), "current");
    EXPECT_FALSE(kept.contains("stale tmp"));
    EXPECT_FALSE(kept.contains("stale new"));
    EXPECT_FALSE(workFilesLeft());
}

TEST_F(PurgeLog, LinesWithoutADateGoWithTheLineBefore)
{
    writeAll(m_path, QByteArray("a foreign first line\r\n"
                                "\r\n") +
                         logLine(at(2026, 11, 1, 8, 0, 0), "old") +
                         "its continuation\r\n"
                         "\r\n" +
                         logLine(at(2026, 12, 5, 8, 0, 0), "new") + "new continuation\r\n" +
                         logLine(at(2026, 11, 2, 8, 0, 0), "old again") +
                         "13/1/2026 not a date\r\n");

    m_log.purge_log();

    const QList<QByteArray> kept = lines(m_path);
    ASSERT_EQ(kept.size(), 7);
    EXPECT_EQ(kept[0], "a foreign first line");
    EXPECT_EQ(kept[1], "");
    EXPECT_EQ(entryOf(kept[2]), "new");
    EXPECT_EQ(kept[3], "new continuation");
    EXPECT_EQ(entryOf(kept[5]), "purge_log: purgeCt=[ 5]");
}

TEST_F(PurgeLog, KeepsTheLineEndsOfKeptLines)
{
    const QByteArray before = "12/6/2026 1:00:00 AM: lf only\n"
                              "12/6/2026 1:00:01 AM: cr lf\r\n";
    writeAll(m_path, before);

    m_log.purge_log();

    EXPECT_TRUE(
        readAll(m_path).startsWith(before + "12/7/2026 10:16:00 AM: purge_log: started\r\n"));
}

TEST_F(PurgeLog, HandlesLogsLargerThanItsReadBuffer)
{
    // Lines of all kinds across several read buffers, and one line longer than a buffer.
    QByteArray content;
    QByteArray expected;
    quint32 state = 12345;
    bool keepPrevious = true;
    qint64 dropped = 0;
    for (int i = 0; i < 200'000; ++i) {
        state = state * 1103515245u + 12345u;
        QByteArray line;
        bool keep = keepPrevious;
        switch ((state >> 16) % 4) {
        case 0:
            line = logLine(at(2026, 11, 20 + int(state % 10), 1, 2, 3),
                           "Socket: old " + QByteArray::number(i));
            keep = false;
            break;
        case 1:
        case 2:
            line = logLine(at(2026, 12, 1 + int(state % 7), 4, 5, 6),
                           "Socket: new " + QByteArray::number(i));
            keep = true;
            break;
        default:
            line = "continued " + QByteArray::number(i) + "\r\n";
            break;
        }
        if (i == 100'000)
            line = logLine(at(2026, 12, 3, 0, 0, 0), QByteArray(5 * 1024 * 1024, 'x'));
        keep = i == 100'000 ? true : keep;
        content += line;
        if (keep)
            expected += line;
        else
            ++dropped;
        keepPrevious = keep;
    }
    writeAll(m_path, content);

    m_log.purge_log();

    const QByteArray after = readAll(m_path);
    EXPECT_TRUE(after.startsWith(expected));
    const QList<QByteArray> now = lines(m_path);
    ASSERT_EQ(now.size(), expected.count('\n') + 3);
    EXPECT_EQ(entryOf(now[now.size() - 2]),
              "purge_log: purgeCt=[ " + QByteArray::number(dropped) + ']');
    EXPECT_FALSE(workFilesLeft());
}

TEST_F(PurgeLog, WithoutALogFileCountsNothing)
{
    ActivityLog nowhere(m_dir.filePath(QStringLiteral("missing/varnelpayment.log")), m_clock);
    nowhere.purge_log();
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("missing"))));
}

TEST_F(PurgeLog, AFailedRebuildLeavesTheLogAsItWas)
{
    const QByteArray old = logLine(at(2026, 11, 1, 8, 0, 0), "old");
    writeAll(m_path, old);
    // A folder where the rebuilt log would go: it can be neither removed nor created.
    QDir(m_dir.path()).mkpath(QStringLiteral("varnelpayment.log.new/inside"));

    m_log.purge_log();

    const QList<QByteArray> kept = entries(lines(m_path));
    const QList<QByteArray> expected = {"old", "purge_log: started", "purge_log: purgeCt=[ 0]",
                                        "purge_log: finished"};
    EXPECT_EQ(kept, expected);
    EXPECT_FALSE(QFileInfo::exists(m_path + QLatin1String(".tmp")));
}

// With a scheduler, a purge of a log larger than one step's reads goes on between the loop's
// other work: every line logged meanwhile stays, in its order, after the kept lines, and an age
// purge asked for during a size purge follows it.
TEST(PurgeInSteps, LinesLoggedMeanwhileStayInTheirOrder)
{
    struct Case
    {
        const char* name;
        int maxMegabytes;
        bool askForAgePurge;
        QStringList purgeLines; // in their order, counts written as #
    };
    const QString sizeLine =
        QStringLiteral("purge_log: size limit MaxLogMegabytes=[8] purgeCt=[#]");
    const QList<Case> cases = {
        {"age purge",
         100,
         true,
         {u"purge_log: started"_s, u"purge_log: purgeCt=[#]"_s, u"purge_log: finished"_s}},
        {"size purge", 8, false, {sizeLine}},
        {"age purge asked for during a size purge",
         8,
         true,
         {u"purge_log: started"_s, sizeLine, u"purge_log: purgeCt=[#]"_s,
          u"purge_log: finished"_s}},
    };
    constexpr qsizetype kMegabyte = 1024 * 1024;
    const QRegularExpression count(QStringLiteral(R"(purgeCt=\[ ?\d+\])"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("varnelpayment.log"));
        // 10 MB, more than two steps read: a week-old first half, a recent second half.
        QByteArray original;
        for (int i = 0; original.size() < 10 * kMegabyte; ++i)
            original += logLine(at(2026, original.size() < 5 * kMegabyte ? 11 : 12, 6, 9, 0, 0),
                                "original " + QByteArray::number(i) + ' ' +
                                    QByteArray(40 + i * 37 % 160, 'x'));
        writeAll(path, original);
        FakeClock clock{at(2026, 12, 7, 10, 16, 0)};
        QtScheduler scheduler;
        ActivityLog log(path, clock, LogLimits{c.maxMegabytes}, &scheduler);

        int meanwhile = 0;
        log.log(u"meanwhile %1"_s.arg(meanwhile++)); // past an 8 MB cap: the size purge starts
        if (c.askForAgePurge)
            log.purge_log();
        ASSERT_TRUE(log.purging());
        for (int turn = 0; log.purging() && turn < 100000; ++turn) {
            log.log(u"meanwhile %1"_s.arg(meanwhile++));
            QCoreApplication::processEvents();
        }
        EXPECT_FALSE(log.purging());
        EXPECT_GT(meanwhile, 2) << "the purge ran in one go";

        QStringList purgeLines;
        int expectedMeanwhile = 0;
        int lastOriginal = -1;
        for (const QString& entry : logEntries(path)) {
            if (entry.startsWith(u"original "_s)) {
                EXPECT_EQ(expectedMeanwhile, 0) << "an old line after a new one";
                lastOriginal = entry.section(u' ', 1, 1).toInt();
            } else if (entry.startsWith(u"meanwhile "_s)) {
                EXPECT_EQ(entry, u"meanwhile %1"_s.arg(expectedMeanwhile++));
            } else {
                purgeLines << QString(entry).replace(count, u"purgeCt=[#]"_s);
            }
        }
        EXPECT_EQ(expectedMeanwhile, meanwhile);
        EXPECT_EQ(purgeLines, c.purgeLines);
        EXPECT_EQ(lastOriginal, original.count('\n') - 1) << "the newest lines were dropped";
        EXPECT_LT(readAll(path).size(), 6 * kMegabyte);
        EXPECT_FALSE(QFileInfo::exists(path + QLatin1String(".new")));
    }
}
