#include <gtest/gtest.h>

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
