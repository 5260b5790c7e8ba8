#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "fakeclock.h"
#include "log/activitylog.h"
#include "log/keeprules.h"
#include "log/linerewriter.h"
#include "testfiles.h"

using namespace TestFiles;

namespace {

constexpr qint64 kCap = LogLimits::kBytesPerMegabyte; // MaxLogMegabytes=1

const QRegularExpression
    kWholeLine(QStringLiteral(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M: [^\r\n]*$)"));
const QRegularExpression kSizeLimitLine(
    QStringLiteral(R"(^purge_log: size limit MaxLogMegabytes=\[1\] purgeCt=\[(\d+)\]$)"));
const QRegularExpression kRequestNumber(QStringLiteral(R"(^request (\d+) )"));

// Entries of varied length, so that the cut falls at many places inside lines.
QString requestEntry(int number)
{
    return QStringLiteral("request %1 ").arg(number) + QString(40 + number * 37 % 400, u'x');
}

void append(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
    file.write(bytes);
}

// A line another program wrote, in the log's own form.
QByteArray foreignLine(int number)
{
    return "12/1/2026 9:00:00 AM: foreign " + QByteArray::number(number) + ' ' +
           QByteArray(100, 'f') + "\r\n";
}

qint64 sizeOf(const QString& path)
{
    return QFileInfo(path).size();
}

class SizeLimit : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(10, 5, 0))};
    QString m_path = m_dir.filePath(QStringLiteral("varnelpayment.log"));
    std::unique_ptr<ActivityLog> m_log =
        std::make_unique<ActivityLog>(m_path, m_clock, LogLimits{1});
    int m_next = 0;
    // Lines in the file, counted as they are written and recounted after each purge.
    qsizetype m_lines = 0;
    int m_purges = 0;

    // Writes request lines up to `bytes` of them, checking after each that the log is within
    // the cap by at most that line (unless `overCap`: another program took it past the cap);
    // after a purge, that it dropped whole lines from the start down to half the cap and counted
    // them. Stops early after `stopAfterPurges` purges.
    void writeRequests(qint64 bytes, int stopAfterPurges = -1, bool overCap = false)
    {
        for (qint64 written = 0; written < bytes && m_purges != stopAfterPurges;) {
            const QString entry = requestEntry(m_next++);
            const qint64 before = sizeOf(m_path);
            m_log->log(entry);
            const qint64 after = sizeOf(m_path);
            const qint64 lineSize = entry.size() + 30;
            written += lineSize;
            if (!overCap) {
                ASSERT_LE(after, kCap + lineSize) << "after request " << m_next - 1;
            }
            if (after >= before) {
                ++m_lines;
                continue;
            }
            const QList<QByteArray> now = lines(m_path);
            ASSERT_GE(now.size(), 2);
            const auto match = kSizeLimitLine.match(QString::fromLatin1(entryOf(now.last())));
            ASSERT_TRUE(match.hasMatch()) << now.last().constData();
            const qsizetype dropped = match.captured(1).toLongLong();
            // The lines before the write, the one written, less those dropped, and the count.
            EXPECT_EQ(now.size(), m_lines + 1 - dropped + 1);
            // At most half the cap is kept, and no line more could have been (lines are under
            // 600 bytes).
            EXPECT_LE(after - now.last().size() - 2, kCap / 2);
            EXPECT_GT(after - now.last().size() - 2, kCap / 2 - 600);
            EXPECT_EQ(entryOf(now.at(now.size() - 2)), entry.toLatin1()) << "newest line lost";
            m_lines = now.size();
            ++m_purges;
        }
    }

    // Every line is whole and the request numbers in the log run without a gap to the last.
    void expectWholeLinesEndingWithTheNewest()
    {
        const QByteArray bytes = readAll(m_path);
        ASSERT_TRUE(bytes.endsWith("\r\n"));
        int expected = -1;
        for (const QByteArray& line : lines(m_path)) {
            const QString text = QString::fromLatin1(line);
            ASSERT_TRUE(kWholeLine.match(text).hasMatch()) << line.left(80).constData();
            const auto number = kRequestNumber.match(QString::fromLatin1(entryOf(line)));
            if (!number.hasMatch())
                continue;
            const int n = number.captured(1).toInt();
            if (expected >= 0) {
                ASSERT_EQ(n, expected) << "a line in the middle is missing";
            }
            expected = n + 1;
        }
        EXPECT_EQ(expected, m_next);
        EXPECT_FALSE(QFileInfo::exists(m_path + QLatin1String(".new")));
    }
};

} // namespace

// However the log starts, writing past the cap drops the oldest lines, never more than needed,
// never the newest, never half a line.
TEST_F(SizeLimit, DropsTheOldestWholeLinesDownToHalfTheCap)
{
    struct Start
    {
        const char* name;
        QByteArray bytes;
    };
    QByteArray earlierRun;
    for (int i = 0; earlierRun.size() < 3 * kCap; ++i)
        earlierRun += foreignLine(i);
    const QList<Start> starts = {
        {"no log", {}},
        {"a log past the cap left by an earlier run", earlierRun},
        {"a last line left unended", foreignLine(1) + "cut sh"},
    };
    for (const Start& start : starts) {
        SCOPED_TRACE(start.name);
        QFile::remove(m_path);
        if (!start.bytes.isEmpty())
            append(m_path, start.bytes);
        m_lines =
            start.bytes.count('\n') + (start.bytes.endsWith('\n') || start.bytes.isEmpty() ? 0 : 1);
        m_purges = 0;
        m_next = 0;
        m_log = std::make_unique<ActivityLog>(m_path, m_clock, LogLimits{1});
        writeRequests(7 * kCap / 2);
        EXPECT_GE(m_purges, 3);
        expectWholeLinesEndingWithTheNewest();
    }
}

// Lines another program appends count at the next purge: the log comes down to half the cap.
TEST_F(SizeLimit, LinesAppendedByAnotherProgramCountAtTheNextPurge)
{
    writeRequests(kCap / 2);
    QByteArray foreign;
    for (int i = 0; foreign.size() < 2 * kCap; ++i)
        foreign += foreignLine(i);
    append(m_path, foreign);
    m_lines += foreign.count('\n');
    writeRequests(kCap, 1, true);
    ASSERT_EQ(m_purges, 1);
    EXPECT_LE(sizeOf(m_path), kCap / 2 + 1000);
    EXPECT_FALSE(readAll(m_path).contains("foreign"));
    expectWholeLinesEndingWithTheNewest();
}

// A log truncated by another program (log rotation, an editor) stays truncated: the purge
// measures it again, drops nothing and purges only once the file itself passes the cap.
TEST_F(SizeLimit, AnExternalTruncationIsKept)
{
    writeRequests(kCap * 9 / 10);
    ASSERT_EQ(m_purges, 0);
    const int firstAfter = m_next;
    QFile::resize(m_path, 0);
    m_lines = 0;
    writeRequests(kCap / 5);
    EXPECT_EQ(m_purges, 0);
    const QList<QByteArray> after = lines(m_path);
    ASSERT_FALSE(after.isEmpty());
    EXPECT_TRUE(entryOf(after.first()).startsWith(requestEntry(firstAfter).toLatin1()));
    writeRequests(kCap, 1);
    EXPECT_EQ(m_purges, 1);
    expectWholeLinesEndingWithTheNewest();
}

// What another process does to the log between the purge's steps.
TEST(SizePurgeMeanwhile, KeepsWhatOthersWroteAndNeverUndoesTheirTruncation)
{
    using Outcome = LineRewriter::Outcome;
    struct Case
    {
        const char* name;
        std::function<void(const QString& path)> meanwhile;
        Outcome outcome;
        // The log afterwards, given the lines the purge kept.
        std::function<QByteArray(const QByteArray& kept)> expected;
    };
    const QList<Case> cases = {
        {"nothing", [](const QString&) {}, Outcome::Rewritten,
         [](const QByteArray& kept) { return kept; }},
        {"appended", [](const QString& path) { append(path, foreignLine(900) + foreignLine(901)); },
         Outcome::Rewritten,
         [](const QByteArray& kept) { return kept + foreignLine(900) + foreignLine(901); }},
        {"truncated and written again",
         [](const QString& path) {
             QFile::resize(path, 0);
             append(path, foreignLine(902));
         },
         Outcome::Truncated, [](const QByteArray&) { return foreignLine(902); }},
        {"truncated", [](const QString& path) { QFile::resize(path, 0); }, Outcome::Truncated,
         [](const QByteArray&) { return QByteArray(); }},
        {"rotated",
         [](const QString& path) {
             QFile::rename(path, path + QLatin1String(".1"));
             append(path, foreignLine(903));
         },
         Outcome::Replaced, [](const QByteArray&) { return foreignLine(903); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("varnelpayment.log"));
        // More than one step reads.
        constexpr int kLines = 20000;
        QByteArray original;
        for (int i = 0; i < kLines; ++i)
            original += foreignLine(i % 100);
        append(path, original);

        LineRewriter purge(path, keepNewestBytes(1000));
        ASSERT_EQ(purge.step(0, true), LineRewriter::Step::Working);
        c.meanwhile(path);
        EXPECT_EQ(purge.run(), c.outcome);

        // The newest whole lines that fit in 1,000 bytes.
        const qsizetype lineSize = foreignLine(99).size();
        const qsizetype keptLines = 1000 / lineSize;
        const QByteArray kept = original.right(keptLines * lineSize);
        EXPECT_EQ(readAll(path), c.expected(kept));
        if (c.outcome == Outcome::Rewritten) {
            EXPECT_EQ(purge.droppedLines(), kLines - keptLines);
            EXPECT_EQ(purge.newSize(), sizeOf(path));
        }
        if (QFileInfo::exists(path + QLatin1String(".1"))) {
            EXPECT_EQ(readAll(path + QLatin1String(".1")), original);
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral(".new")),
                  QStringList());
    }
}
