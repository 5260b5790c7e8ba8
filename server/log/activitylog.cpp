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
#include "core/singlebytetext.h"
#include "log/cardnumberscrubber.h"
#include "log/sizepurge.h"

namespace {

// The log and its rebuilt copy hold names and amounts: readable by their owner only.
constexpr QFileDevice::Permissions kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr qsizetype kReadChunk = 4 * 1024 * 1024;
constexpr int kKeepDays = 7;

// The day of a line's first blank-separated field as yyyymmdd, or -1 when that field is not a
// date in the form timestamp() writes. Parsed by hand: the purge calls it for every line.
int lineDay(const char* text, qsizetype size)
{
    qsizetype pos = 0;
    auto number = [&](int minDigits, int maxDigits, int& out) {
        out = 0;
        int digits = 0;
        while (pos < size && digits < maxDigits && text[pos] >= '0' && text[pos] <= '9') {
            out = out * 10 + (text[pos] - '0');
            ++pos;
            ++digits;
        }
        return digits >= minDigits;
    };
    int month = 0;
    int day = 0;
    int year = 0;
    if (!number(1, 2, month) || pos >= size || text[pos++] != '/')
        return -1;
    if (!number(1, 2, day) || pos >= size || text[pos++] != '/')
        return -1;
    if (!number(4, 4, year) || (pos < size && text[pos] != ' '))
        return -1;
    if (!QDate::isValid(year, month, day))
        return -1;
    return year * 10000 + month * 100 + day;
}

// The line's length without its CR LF (or LF) end.
qsizetype contentSize(const char* line, qsizetype size)
{
    if (size > 0 && line[size - 1] == '\n')
        --size;
    if (size > 0 && line[size - 1] == '\r')
        --size;
    return size;
}

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

// Replaces `to` by `from` in one step, so that either the old or the new file is there.
bool replaceFile(const QString& from, const QString& to)
{
#ifdef Q_OS_WIN
    return MoveFileExW(reinterpret_cast<const wchar_t*>(from.utf16()),
                       reinterpret_cast<const wchar_t*>(to.utf16()),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
#endif
}

// Forces the rebuilt log's bytes to disk before it replaces the old log.
void syncToDisk(QFile& file)
{
#ifndef Q_OS_WIN
    ::fsync(file.handle());
#else
    Q_UNUSED(file);
#endif
}

// Rebuilds `newFile` from `source`, keeping the lines dated after `cutoffDay` (yyyymmdd).
// A line without a readable date goes with the line before it; one at the start is kept.
// Returns the number of dropped lines, or -1 on a read or write failure.
qint64 copyRecentLines(QFile& source, QFile& newFile, int cutoffDay)
{
    std::vector<char> buffer(kReadChunk);
    qsizetype filled = 0;
    bool atEnd = false;
    bool keepPrevious = true;
    qint64 dropped = 0;

    while (!atEnd) {
        const qint64 got = source.read(buffer.data() + filled, qint64(buffer.size()) - filled);
        if (got < 0)
            return -1;
        atEnd = got == 0;
        filled += got;

        qsizetype lineStart = 0;
        qsizetype runStart = -1; // first byte of the kept lines not yet written
        auto writeRun = [&](qsizetype end) {
            if (runStart >= 0 && end > runStart &&
                newFile.write(buffer.data() + runStart, end - runStart) != end - runStart)
                return false;
            runStart = -1;
            return true;
        };
        while (lineStart < filled) {
            const char* begin = buffer.data() + lineStart;
            const auto* newline =
                static_cast<const char*>(std::memchr(begin, '\n', filled - lineStart));
            if (!newline && !atEnd)
                break; // the rest of the line comes with the next read
            const qsizetype lineSize = newline ? newline - begin + 1 : filled - lineStart;
            const int day = lineDay(begin, contentSize(begin, lineSize));
            const bool keep = day < 0 ? keepPrevious : day > cutoffDay;
            keepPrevious = keep;
            if (keep) {
                if (runStart < 0)
                    runStart = lineStart;
            } else {
                ++dropped;
                if (!writeRun(lineStart))
                    return -1;
            }
            lineStart += lineSize;
            if (!newline && keep) {
                // A last line cut short by a crash gets its line end, so later lines start
                // on a line of their own.
                const bool halfEnded = buffer[size_t(lineStart - 1)] == '\r';
                const char* end = halfEnded ? "\n" : "\r\n";
                if (!writeRun(lineStart) || newFile.write(end) != qint64(std::strlen(end)))
                    return -1;
            }
        }
        if (!writeRun(lineStart))
            return -1;

        const qsizetype rest = filled - lineStart;
        if (rest > 0 && lineStart > 0)
            std::memmove(buffer.data(), buffer.data() + lineStart, size_t(rest));
        filled = rest;
        if (filled == qsizetype(buffer.size()))
            buffer.resize(buffer.size() * 2); // one line longer than the buffer
    }
    return dropped;
}

} // namespace

ActivityLog::ActivityLog(QString logPath, const Clock& clock, LogLimits limits)
    : m_path(std::move(logPath)), m_encodedPath(QFile::encodeName(m_path)), m_clock(clock),
      m_limits(limits), m_purgeAbove(limits.maxBytes())
{
}

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
        if (m_size > m_purgeAbove && !m_purgingToSize)
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
    m_purgingToSize = true;
    const qint64 cap = m_limits.maxBytes();
    // Another process may have appended to the file or truncated it since it was measured.
    const qint64 size = fileSize(m_encodedPath);
    if (size < 0 || size <= cap) {
        m_endChecked = false; // a truncation may have left a line unended
        m_size = qMax<qint64>(size, 0);
        m_purgeAbove = cap;
        m_purgingToSize = false;
        return;
    }
    SizePurge purge(m_path, cap / 2);
    const SizePurge::Outcome outcome = purge.run();
    // The file is a new one, or was changed by someone else: its end and size are checked
    // again with the next line.
    m_endChecked = false;
    m_purgeAbove = cap;
    if (outcome == SizePurge::Outcome::Purged) {
        log(QStringLiteral("purge_log: size limit MaxLogMegabytes=[%1] purgeCt=[%2]")
                .arg(m_limits.maxMegabytes)
                .arg(purge.droppedLines()));
    } else if (outcome == SizePurge::Outcome::Failed || outcome == SizePurge::Outcome::NotNeeded) {
        // Not tried again until another half of the cap has been written.
        m_endChecked = true;
        m_size = size;
        m_purgeAbove = size + cap / 2;
        if (outcome == SizePurge::Outcome::Failed)
            qWarning("Activity log: the size purge failed, the log is left as it was: %s",
                     qUtf8Printable(purge.failure()));
    }
    m_purgingToSize = false;
}

QString ActivityLog::log_separator()
{
    return QString(64, QLatin1Char('-'));
}

qint64 ActivityLog::purge_log()
{
    log(QStringLiteral("purge_log: started"));
    const QString path = log_path();
    qint64 purgeCt = 0;

    if (QFile::exists(path)) {
        const QString tmpPath = path + QLatin1String(".tmp");
        const QString newPath = path + QLatin1String(".new");
        QString failure;

        QFile::remove(tmpPath); // QFile::copy will not replace a file
        QFile::remove(newPath); // left by a purge that was interrupted
        QFile tmpFile(tmpPath);
        QFile newFile(newPath);
        if (!QFile::copy(path, tmpPath)) {
            failure = QStringLiteral("cannot copy the log to ") + tmpPath;
        } else if (!newFile.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly)) {
            failure = QStringLiteral("cannot create ") + newPath + QLatin1String(": ") +
                      newFile.errorString();
        } else if (!tmpFile.open(QIODevice::ReadOnly)) {
            failure = QStringLiteral("cannot read ") + tmpPath + QLatin1String(": ") +
                      tmpFile.errorString();
        } else {
            const QDate cutoff = m_clock.now().addDays(-kKeepDays).date();
            const int cutoffDay = cutoff.year() * 10000 + cutoff.month() * 100 + cutoff.day();
            const qint64 dropped = copyRecentLines(tmpFile, newFile, cutoffDay);
            const bool written = dropped >= 0 && newFile.flush();
            if (written)
                syncToDisk(newFile);
            newFile.close();
            tmpFile.close();
            if (!written)
                failure = QStringLiteral("cannot rebuild the log in ") + newPath;
            else if (!replaceFile(newPath, path))
                failure = QStringLiteral("cannot replace the log by ") + newPath;
            else
                purgeCt = dropped;
        }
        tmpFile.close();
        newFile.close();
        QFile::remove(tmpPath);
        QFile::remove(newPath);
        if (!failure.isEmpty())
            qWarning("Activity log: purge failed, the log is left as it was: %s",
                     qUtf8Printable(failure));
        // The purge ends a last line that was cut short, but the file is a new one now: its end
        // is checked again with the next line.
        m_endChecked = false;
    }

    log(QStringLiteral("purge_log: purgeCt=[") + signedNumberText(purgeCt) + QLatin1Char(']'));
    log(QStringLiteral("purge_log: finished"));
    return purgeCt;
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
    const int day = lineDay(line.constData(), contentSize(line.constData(), line.size()));
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
