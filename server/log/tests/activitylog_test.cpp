#include <gtest/gtest.h>

#include <ctime>

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>

#include "fakeclock.h"
#include "log/activitylog.h"
#include "testfiles.h"

using namespace TestFiles;

namespace {

QDateTime at(int year, int month, int day, int hour, int minute, int second)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

// Collects the warnings Qt prints while it lives.
class WarningCatcher
{
public:
    WarningCatcher()
    {
        s_warnings.clear();
        m_previous = qInstallMessageHandler(&catchMessage);
    }
    ~WarningCatcher() { qInstallMessageHandler(m_previous); }
    static QStringList s_warnings;

private:
    static void catchMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
    {
        if (type == QtWarningMsg)
            s_warnings.append(text);
    }
    QtMessageHandler m_previous = nullptr;
};
QStringList WarningCatcher::s_warnings;

// Puts the process in another time zone while it lives.
class TimeZoneOverride
{
public:
    explicit TimeZoneOverride(const char* zone)
        : m_hadZone(qEnvironmentVariableIsSet("TZ")), m_previous(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZoneOverride()
    {
        if (m_hadZone)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    bool m_hadZone;
    QByteArray m_previous;
};

} // namespace

TEST(ActivityLogTimestamp, UsesTwelveHourClockWithoutLeadingZeros)
{
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 7, 19, 54, 28)),
              QStringLiteral("12/7/2026 7:54:28 PM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 7, 0, 0, 0)),
              QStringLiteral("12/7/2026 12:00:00 AM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 7, 0, 59, 59)),
              QStringLiteral("12/7/2026 12:59:59 AM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 7, 12, 0, 0)),
              QStringLiteral("12/7/2026 12:00:00 PM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 7, 11, 59, 59)),
              QStringLiteral("12/7/2026 11:59:59 AM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2027, 1, 2, 3, 4, 5)),
              QStringLiteral("1/2/2027 3:04:05 AM"));
    EXPECT_EQ(ActivityLog::timestamp(at(2026, 12, 31, 23, 9, 0)),
              QStringLiteral("12/31/2026 11:09:00 PM"));
}

TEST(ActivityLogTimestamp, IgnoresTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = ActivityLog::timestamp(at(2026, 3, 4, 15, 6, 7));
    QLocale::setDefault(previous);
    EXPECT_EQ(text, QStringLiteral("3/4/2026 3:06:07 PM"));
}

TEST(ActivityLogLineDate, ReadsBackWhatTimestampWrites)
{
    for (const QDateTime& when : {at(2026, 12, 7, 19, 54, 28), at(2026, 1, 1, 0, 0, 0),
                                  at(2026, 11, 30, 23, 59, 59), at(2028, 2, 29, 12, 0, 0)}) {
        const QByteArray line = ActivityLog::timestamp(when).toLatin1() + ": Socket: x\r\n";
        EXPECT_EQ(ActivityLog::lineDate(line), when.date()) << line.constData();
    }
    EXPECT_EQ(ActivityLog::lineDate("12/7/2026"), QDate(2026, 12, 7));
    EXPECT_EQ(ActivityLog::lineDate("12/7/2026\r\n"), QDate(2026, 12, 7));
}

TEST(ActivityLogLineDate, RejectsLinesThatDoNotStartWithADate)
{
    for (const char* line :
         {"", "\r\n", "purge_log: started", " 12/7/2026 7:54:28 PM: x", "12/7/26 7:54:28 PM: x",
          "13/7/2026 1:00:00 AM: x", "2/30/2026 1:00:00 AM: x", "0/7/2026 1:00:00 AM: x",
          "12/7/2026x 1:00:00 AM", "12-7-2026 1:00:00 AM", "12/7/20266 1:00:00 AM",
          "123/7/2026 1:00:00 AM", "12//2026 1:00:00 AM", "12/7/2026\t1:00:00 AM"}) {
        EXPECT_FALSE(ActivityLog::lineDate(line).isValid()) << line;
    }
}

TEST(ActivityLogEscape, WritesControlCharactersDelAndBackslashAsUnambiguousEscapes)
{
    struct Case
    {
        QString entry;
        QString logged;
    };
    const Case cases[] = {
        {QStringLiteral("a\r\nb\tc"), QStringLiteral("a\\r\\nb\\tc")},
        {QString(QChar(0)) + QChar(0x1B) + QChar(0x1F) + QChar(0x7F),
         QStringLiteral("\\x00\\x1B\\x1F\\x7F")},
        // A client's literal backslash-r reads back differently from an escaped carriage return.
        {QStringLiteral("NAME=a\\rb"), QStringLiteral("NAME=a\\\\rb")},
        {QStringLiteral("path=[C:\\Windows\\notepad.exe]"),
         QStringLiteral("path=[C:\\\\Windows\\\\notepad.exe]")},
        {QStringLiteral("\\x7F"), QStringLiteral("\\\\x7F")},
        // Printable text, blanks and characters above 127 stay as they are.
        {QStringLiteral(" ~ \u0080\u00A0\u00FC\u00FF"),
         QStringLiteral(" ~ \u0080\u00A0\u00FC\u00FF")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ActivityLog::escapeEntry(c.entry), c.logged) << qPrintable(c.entry);
}

class ActivityLogFile : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    FakeClock m_clock{at(2026, 12, 7, 19, 54, 28)};
    QString m_path = m_dir.filePath(QStringLiteral("varnelpayment.log"));
    ActivityLog m_log{m_path, m_clock};
};

TEST_F(ActivityLogFile, AppendsOneCrLfLinePerEntry)
{
    m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    m_clock.set(at(2026, 12, 8, 0, 5, 9));
    m_log.log(QStringLiteral("purge_log: finished"));

    EXPECT_EQ(readAll(m_path),
              "12/7/2026 7:54:28 PM: Socket: Transaction Start "
              "----------------------------------------------------------------\r\n"
              "12/8/2026 12:05:09 AM: purge_log: finished\r\n");
}

TEST_F(ActivityLogFile, CreatesTheLogReadableByItsOwnerOnly)
{
    m_log.log(QStringLiteral("Application: Form load"));
    EXPECT_EQ(unixMode(m_path), 0600);
}

TEST_F(ActivityLogFile, AnEntryCannotForgeASecondLine)
{
    m_log.log(QStringLiteral("NAME=x\r\n12/7/2026 7:00:00 PM: Socket: forged\nmore"));
    const QByteArray bytes = readAll(m_path);
    EXPECT_EQ(bytes.count('\n'), 1);
    EXPECT_EQ(bytes.count('\r'), 1);
    EXPECT_EQ(bytes, "12/7/2026 7:54:28 PM: NAME=x\\r\\n12/7/2026 7:00:00 PM: Socket: forged"
                     "\\nmore\r\n");
}

TEST_F(ActivityLogFile, WritesOneBytePerCharacter)
{
    // u-umlaut fits a byte; the euro sign and an emoji (two UTF-16 units) become one "?" each.
    m_log.log(QStringLiteral("NAME=[M\u00FCller \u20AC \U0001F600]"));
    EXPECT_EQ(readAll(m_path), QByteArray("12/7/2026 7:54:28 PM: NAME=[M\xFCller ? ?]\r\n"));
}

TEST_F(ActivityLogFile, EndsALineCutShortBeforeWritingTheNext)
{
    writeAll(m_path, "12/7/2026 7:54:27 PM: NAME=[cut sh");
    m_log.log(QStringLiteral("next"));
    EXPECT_EQ(readAll(m_path), "12/7/2026 7:54:27 PM: NAME=[cut sh\r\n"
                               "12/7/2026 7:54:28 PM: next\r\n");
}

TEST_F(ActivityLogFile, AnUnwritableLineWarnsOnceAndDoesNotThrow)
{
    ActivityLog unwritable(m_dir.filePath(QStringLiteral("missing/varnelpayment.log")), m_clock);
    WarningCatcher warnings;
    EXPECT_NO_THROW(unwritable.log(QStringLiteral("first")));
    EXPECT_NO_THROW(unwritable.log(QStringLiteral("second")));
    EXPECT_EQ(WarningCatcher::s_warnings.size(), 2);
    EXPECT_FALSE(QFileInfo::exists(unwritable.log_path()));
    // The log goes on once the line can be written again.
    m_log.log(QStringLiteral("third"));
    EXPECT_EQ(lines(m_path).size(), 1);
}

TEST_F(ActivityLogFile, StampsEverySecondInLocalTimeAcrossDaylightSavingChanges)
{
    TimeZoneOverride newYork("America/New_York");
    struct Step
    {
        QDateTime utc;
        const char* stamp;
    };
    auto utc = [](int month, int day, int hour, int minute, int second, int ms = 0) {
        return QDateTime(QDate(2026, month, day), QTime(hour, minute, second, ms), Qt::UTC);
    };
    const Step steps[] = {
        // Clocks go back at 2:00 daylight time on 11/1/2026: 1:00 to 1:59 comes twice.
        {utc(11, 1, 5, 59, 58), "11/1/2026 1:59:58 AM"},
        {utc(11, 1, 5, 59, 58, 999), "11/1/2026 1:59:58 AM"},
        {utc(11, 1, 5, 59, 59, 500), "11/1/2026 1:59:59 AM"},
        {utc(11, 1, 6, 0, 0), "11/1/2026 1:00:00 AM"},
        {utc(11, 1, 6, 0, 0, 1), "11/1/2026 1:00:00 AM"},
        {utc(11, 1, 6, 59, 59), "11/1/2026 1:59:59 AM"},
        {utc(11, 1, 7, 0, 0), "11/1/2026 2:00:00 AM"},
        // The clock set back by months, and clocks going forward at 2:00 on 3/8/2026.
        {utc(3, 8, 6, 59, 59), "3/8/2026 1:59:59 AM"},
        {utc(3, 8, 7, 0, 0), "3/8/2026 3:00:00 AM"},
        // Midnight, noon and the year's end in local time, not in UTC.
        {utc(12, 31, 4, 59, 59), "12/30/2026 11:59:59 PM"},
        {utc(12, 31, 5, 0, 0), "12/31/2026 12:00:00 AM"},
        {utc(12, 31, 17, 0, 0), "12/31/2026 12:00:00 PM"},
        {QDateTime(QDate(2027, 1, 1), QTime(4, 59, 59), Qt::UTC), "12/31/2026 11:59:59 PM"},
    };
    QList<QByteArray> expected;
    for (const Step& step : steps) {
        m_clock.set(step.utc.toLocalTime());
        m_log.log(QStringLiteral("step"));
        expected << QByteArray(step.stamp) + ": step";
    }
    EXPECT_EQ(lines(m_path), expected);
}
