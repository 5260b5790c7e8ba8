#include "log/activitylog.h"

#include <cstring>
#include <exception>
#include <vector>

#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/clock.h"
#include "core/failure.h"
#include "core/scheduler.h"
#include "core/singlebytetext.h"
#include "log/cardnumberscrubber.h"
#include "log/keeprules.h"
#include "log/linerewriter.h"

namespace {

// The log holds names and amounts: readable by its owner only.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr int kKeepDays = 7;
// A purge's steps: each holds the loop about this long, and one whose reads would wait for the
// disk is tried again after the pause.
constexpr int kStepBudgetMs = 2;
constexpr int kDiskPauseMs = 2;

// Whether the file is missing or empty or ends with a line end, so that the next line starts
// a line of its own even after a write that was cut short, and the file's size. A file we may
// not read counts as ended and empty.
bool endsWithLineEnd(const QString& path, qint64& size)
{
    QFile file(path);
    size = 0;
    if (!file.open(QIODevice::ReadOnly))
        return true;
    size = file.size();
    char last = '\n';
    return size == 0 || !file.seek(size - 1) || !file.getChar(&last) || last == '\n';
}

// The file's size now, -1 when it cannot be measured.
qint64 fileSize(const QByteArray& encodedPath)
{
#ifdef Q_OS_WIN
    const QFileInfo info(QFile::decodeName(encodedPath));
    return info.exists() ? info.size() : -1;
#else
    struct stat info = {};
    return ::stat(encodedPath.constData(), &info) == 0 ? qint64(info.st_size) : -1;
#endif
}

// Appends the bytes with one open, one write and one close, creating the file readable by its
// owner only. Returns why it failed, or an empty text.
QString appendToFile(const QString& path, const QByteArray& encodedPath, const QByteArray& bytes)
{
#ifdef Q_OS_WIN
    Q_UNUSED(encodedPath);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append, kOwnerOnly) ||
        file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    return {};
#else
    Q_UNUSED(path);
    const int fd = ::open(encodedPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    qsizetype written = 0;
    int error = 0;
    while (written < bytes.size() && error == 0) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n > 0)
            written += n;
        else if (n == 0 || errno != EINTR)
            error = n == 0 ? EIO : errno;
    }
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error));
#endif
}

} // namespace

ActivityLog::ActivityLog(QString logPath, const Clock& clock, LogLimits limits, Scheduler* steps)
    : m_path(std::move(logPath)), m_encodedPath(QFile::encodeName(m_path)), m_clock(clock),
      m_limits(limits), m_steps(steps)
{
    m_purgeAbove = purgeThreshold();
}

qint64 ActivityLog::purgeThreshold() const
{
    // A purge in steps starts a sixteenth of the cap early: the lines logged while it runs then
    // keep the log under the cap.
    const qint64 cap = m_limits.maxBytes();
    return m_steps ? cap - cap / 16 : cap;
}

// A purge under way is left unfinished: the log stays as it was.
ActivityLog::~ActivityLog() = default;

void ActivityLog::log(const QString& entry)
{
    try {
        const QByteArray text = toSingleByte(escapeEntry(scrubCardNumbers(entry)));
        const QByteArray& prefix = stampPrefix();
        QByteArray line;
        line.reserve(prefix.size() + text.size() + 4);
        // A line left unended by an earlier run, or by a write of ours cut short, is ended
        // first; the file is checked once, not before every line.
        if (!m_endChecked) {
            if (!endsWithLineEnd(m_path, m_size))
                line += "\r\n";
            m_endChecked = true;
        }
        line += prefix;
        line += text;
        line += "\r\n";
        const QString failure = appendToFile(m_path, m_encodedPath, line);
        if (!failure.isEmpty()) {
            m_endChecked = false;
            ++m_writeFailures;
            qWarning("Activity log: cannot write to %s: %s", qUtf8Printable(m_path),
                     qUtf8Printable(failure));
            return;
        }
        m_size += line.size();
        if (m_size > m_purgeAbove && !m_rewrite)
            purgeToSizeLimit();
    } catch (const std::exception& e) {
        ++m_writeFailures;
        qWarning("Activity log: cannot write a line: %s", e.what());
    } catch (...) {
        ++m_writeFailures;
        qWarning("Activity log: cannot write a line");
    }
}

const QByteArray& ActivityLog::stampPrefix()
{
    // The local time's text changes only with the second, and making it asks the C library for
    // the time zone each time.
    const qint64 second = m_clock.secsSinceEpoch();
    if (m_stampPrefix.isEmpty() || second != m_stampSecond) {
        m_stampPrefix = toSingleByte(timestamp(QDateTime::fromSecsSinceEpoch(second))) + ": ";
        m_stampSecond = second;
    }
    return m_stampPrefix;
}

void ActivityLog::purgeToSizeLimit()
{
    const qint64 cap = m_limits.maxBytes();
    // Another process may have appended to the file or truncated it since it was measured.
    const qint64 size = fileSize(m_encodedPath);
    m_purgeAbove = purgeThreshold();
    if (size < 0 || size <= m_purgeAbove) {
        m_endChecked = false; // a truncation may have left a line unended
        m_size = qMax<qint64>(size, 0);
        return;
    }
    m_size = size;
    startRewrite(Purge::Size, std::make_unique<LineRewriter>(m_path, keepNewestBytes(cap / 2)));
}

void ActivityLog::startAgePurge()
{
    QFile::remove(m_path + QLatin1String(".tmp")); // the work copy of an earlier version's purge
    const QDate cutoff = m_clock.now().addDays(-kKeepDays).date();
    const int cutoffDay = cutoff.year() * 10000 + cutoff.month() * 100 + cutoff.day();
    startRewrite(Purge::Age,
                 std::make_unique<LineRewriter>(m_path, keepLinesDatedAfter(cutoffDay)));
}

void ActivityLog::startRewrite(Purge purge, std::unique_ptr<LineRewriter> rewrite)
{
    m_rewriteFor = purge;
    m_rewrite = std::move(rewrite);
    if (!m_steps)
        m_rewrite->run();
    stepRewrite();
}

void ActivityLog::stepRewrite()
{
    // A log smaller than a step's reads is rewritten within the call that asked for it.
    const LineRewriter::Step step = m_rewrite->step(kStepBudgetMs, false);
    if (step == LineRewriter::Step::Ended) {
        m_nextStep.reset();
        rewriteEnded();
        return;
    }
    m_nextStep = m_steps->callAfter(step == LineRewriter::Step::Waiting ? kDiskPauseMs : 0,
                                    [this] { stepRewrite(); });
}

void ActivityLog::finishPurges()
{
    // The age purge that waited for a size purge starts when that one ends.
    while (m_rewrite) {
        m_nextStep.reset();
        m_rewrite->run();
        rewriteEnded();
    }
}

void ActivityLog::rewriteEnded()
{
    const std::unique_ptr<LineRewriter> done = std::move(m_rewrite);
    const LineRewriter::Outcome outcome = done->outcome();
    using Outcome = LineRewriter::Outcome;
    const bool failedOrKept = outcome == Outcome::Failed || outcome == Outcome::NothingDropped;
    if (outcome == Outcome::Failed)
        qWarning(m_rewriteFor == Purge::Age
                     ? "Activity log: purge failed, the log is left as it was: %s"
                     : "Activity log: the size purge failed, the log is left as it was: %s",
                 qUtf8Printable(done->failure()));
    if (m_rewriteFor == Purge::Age) {
        // The file may be a new one now: its end is checked again with the next line.
        m_endChecked = false;
        const qint64 purgeCt = outcome == Outcome::Rewritten ? done->droppedLines() : 0;
        log(QStringLiteral("purge_log: purgeCt=[") + signedNumberText(purgeCt) + QLatin1Char(']'));
        log(QStringLiteral("purge_log: finished"));
    } else if (failedOrKept) {
        // The log is as it was: not tried again until another half of the cap has been written.
        m_purgeAbove = m_size + m_limits.maxBytes() / 2;
    } else {
        // A new file, or one that someone else changed: its end and size are checked again.
        m_endChecked = false;
        if (outcome == Outcome::Rewritten)
            log(QStringLiteral("purge_log: size limit MaxLogMegabytes=[%1] purgeCt=[%2]")
                    .arg(m_limits.maxMegabytes)
                    .arg(done->droppedLines()));
    }
    if (m_agePurgeWaiting && !m_rewrite) {
        m_agePurgeWaiting = false;
        startAgePurge();
    }
}

QString ActivityLog::log_separator()
{
    return QString(64, QLatin1Char('-'));
}

void ActivityLog::purge_log()
{
    if (m_agePurgeWaiting || (m_rewrite && m_rewriteFor == Purge::Age))
        return; // the purge under way reports when it ends
    log(QStringLiteral("purge_log: started"));
    if (m_rewrite)
        m_agePurgeWaiting = true; // after the size purge under way
    else
        startAgePurge();
}

QString ActivityLog::timestamp(const QDateTime& when)
{
    const QDate date = when.date();
    const QTime time = when.time();
    const int hour12 = time.hour() % 12 == 0 ? 12 : time.hour() % 12;
    return QString::asprintf("%d/%d/%04d %d:%02d:%02d %s", date.month(), date.day(), date.year(),
                             hour12, time.minute(), time.second(), time.hour() < 12 ? "AM" : "PM");
}

QDate ActivityLog::lineDate(const QByteArray& line)
{
    const int day = logLineDay(line.constData(), line.size());
    return day < 0 ? QDate() : QDate(day / 10000, day / 100 % 100, day % 100);
}

QString ActivityLog::escapeEntry(const QString& entry)
{
    // Most entries need no escape: they are written as they are, without a copy.
    const QChar* chars = entry.constData();
    bool needsEscape = false;
    for (qsizetype i = 0; i < entry.size(); ++i) {
        const char16_t code = chars[i].unicode();
        needsEscape |= code < 32 || code == 127 || code == u'\\';
    }
    if (!needsEscape)
        return entry;
    QString escaped;
    escaped.reserve(entry.size());
    for (const QChar ch : entry) {
        const char16_t code = ch.unicode();
        if (code == '\\') {
            escaped.append(QLatin1String("\\\\")); // so a literal "\r" differs from an escape
        } else if (code >= 32 && code != 127) {
            escaped.append(ch);
        } else if (code == '\r') {
            escaped.append(QLatin1String("\\r"));
        } else if (code == '\n') {
            escaped.append(QLatin1String("\\n"));
        } else if (code == '\t') {
            escaped.append(QLatin1String("\\t"));
        } else {
            escaped.append(QString::asprintf("\\x%02X", unsigned(code)));
        }
    }
    return escaped;
}
