#include "log/linerewriter.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <thread>

#include <QFile>

namespace {

constexpr qsizetype kChunk = 1024 * 1024;
// A step reads at least one chunk, so a log smaller than that is rewritten in one step, and at
// most this much, so a step on a fast disk still ends soon after its budget.
constexpr qint64 kMostPerStep = 2 * kChunk;
// How far ahead the disk is asked to read when a read would have waited for it.
constexpr off_t kFetchAhead = 4 * kChunk;
// Reads that would wait in a row before one waits after all: a file system may keep saying so.
constexpr int kMostWaits = 50;
// Rounds of "copy what was appended" before the rename; a writer that never pauses is caught by
// the copy after the rename instead.
constexpr int kCatchUpRounds = 8;

// Closing the last descriptor of a large file that is gone from the folder frees its blocks,
// which takes tens of milliseconds: that close is left to a thread of its own.
void closeInBackground(int fd)
{
    try {
        std::thread([fd] { ::close(fd); }).detach();
    } catch (const std::system_error&) {
        ::close(fd);
    }
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

LineRewriter::LineRewriter(QString logPath, KeepRule keep)
    : m_path(std::move(logPath)), m_encodedPath(QFile::encodeName(m_path)),
      m_encodedNewPath(QFile::encodeName(m_path + QLatin1String(".new"))), m_keep(std::move(keep))
{
}

LineRewriter::~LineRewriter()
{
    const bool unfinished = m_newFd >= 0;
    closeFiles();
    if (unfinished)
        ::unlink(m_encodedNewPath.constData());
}

LineRewriter::Outcome LineRewriter::run()
{
    while (step(INT_MAX, true) != Step::Ended) {
    }
    return m_outcome;
}

LineRewriter::Step LineRewriter::step(int budgetMs, bool mayWait)
{
    if (m_phase == Phase::Done)
        return Step::Ended;
    if (m_phase == Phase::Start) {
        if (!begin())
            return Step::Ended;
        m_phase = Phase::Sort;
    }
    QElapsedTimer clock;
    clock.start();
    qint64 readInStep = 0;
    while (m_phase != Phase::Done) {
        qint64 got = 0;
        if (m_phase == Phase::Sort && m_read == m_measured) {
            // A last line without its end is not the rule's to judge: it stays as it is.
            if (m_pending > 0 && !writeOut(m_buffer.data(), m_pending))
                return Step::Ended;
            m_pending = 0;
            if (m_dropped == 0) {
                ::fchmod(m_oldFd, 0600); // owner-only, as a rewritten log would be
                return end(Outcome::NothingDropped);
            }
            m_phase = Phase::CatchUp;
            continue;
        }
        if (m_phase == Phase::Sort) {
            if (m_pending == qsizetype(m_buffer.size()))
                m_buffer.resize(m_buffer.size() * 2); // one line longer than the buffer
            const qsizetype room = qsizetype(m_buffer.size()) - m_pending;
            got = readAt(m_read, m_pending, qsizetype(qMin<qint64>(room, m_measured - m_read)),
                         mayWait);
            if (got == 0)
                return end(Outcome::Truncated);
        } else {
            got = readAt(m_read, 0, kChunk, mayWait);
        }
        if (got == -2)
            return Step::Waiting;
        if (got < 0)
            return fail(QStringLiteral("cannot read ") + m_path);
        if (!(m_phase == Phase::Sort ? sortLines(got) : catchUp(got)))
            return Step::Ended;
        readInStep += got;
        if (m_phase != Phase::Done &&
            ((readInStep >= kChunk && clock.elapsed() >= budgetMs) || readInStep >= kMostPerStep))
            return Step::Working;
    }
    return Step::Ended;
}

bool LineRewriter::begin()
{
    m_oldFd = ::open(m_encodedPath.constData(), O_RDONLY | O_CLOEXEC);
    if (m_oldFd < 0) {
        if (errno == ENOENT)
            end(Outcome::Missing);
        else
            fail(QStringLiteral("cannot read ") + m_path + QLatin1String(": ") + errorText(errno));
        return false;
    }
    struct stat info = {};
    if (::fstat(m_oldFd, &info) != 0) {
        fail(QStringLiteral("cannot measure ") + m_path + QLatin1String(": ") + errorText(errno));
        return false;
    }
    m_device = quint64(info.st_dev);
    m_inode = quint64(info.st_ino);
    m_measured = info.st_size;

    ::unlink(m_encodedNewPath.constData()); // left by a rewrite that was interrupted
    m_newFd = ::open(m_encodedNewPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_newFd < 0) {
        fail(QStringLiteral("cannot create ") + m_path + QLatin1String(".new: ") +
             errorText(errno));
        return false;
    }
    m_buffer.resize(size_t(kChunk));
    return true;
}

qint64 LineRewriter::readAt(qint64 offset, qsizetype keep, qsizetype limit, bool mayWait)
{
    iovec into = {m_buffer.data() + keep, size_t(limit)};
    ssize_t got = -1;
    if (!mayWait && m_noWaitReads && m_waits < kMostWaits) {
        do
            got = ::preadv2(m_oldFd, &into, 1, off_t(offset), RWF_NOWAIT);
        while (got < 0 && errno == EINTR);
        if (got >= 0) {
            m_waits = 0;
            return got;
        }
        if (errno == EAGAIN) {
            ++m_waits;
            ::posix_fadvise(m_oldFd, off_t(offset), kFetchAhead, POSIX_FADV_WILLNEED);
            return -2;
        }
        if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
            return -1;
        m_noWaitReads = false;
    }
    do
        got = ::pread(m_oldFd, into.iov_base, into.iov_len, off_t(offset));
    while (got < 0 && errno == EINTR);
    m_waits = 0;
    return got;
}

bool LineRewriter::sortLines(qint64 got)
{
    const qint64 base = m_read - m_pending; // where the buffer's first byte is in the log
    const qsizetype filled = m_pending + qsizetype(got);
    m_read += got;
    const char* data = m_buffer.data();
    qsizetype lineStart = 0;
    qsizetype runStart = -1; // the first kept byte not yet written
    auto writeRun = [&](qsizetype runEnd) {
        const bool written = runStart < 0 || writeOut(data + runStart, runEnd - runStart);
        runStart = -1;
        return written;
    };
    while (lineStart < filled) {
        const auto* newline = static_cast<const char*>(
            std::memchr(data + lineStart, '\n', size_t(filled - lineStart)));
        if (!newline)
            break; // the rest of the line comes with the next read
        const qsizetype size = newline - (data + lineStart) + 1;
        if (m_keep(Line{data + lineStart, size, base + lineStart, m_measured})) {
            if (runStart < 0)
                runStart = lineStart;
        } else {
            ++m_dropped;
            if (!writeRun(lineStart))
                return false;
        }
        lineStart += size;
    }
    if (!writeRun(lineStart))
        return false;
    m_pending = filled - lineStart;
    if (m_pending > 0 && lineStart > 0)
        std::memmove(m_buffer.data(), m_buffer.data() + lineStart, size_t(m_pending));
    return true;
}

bool LineRewriter::catchUp(qint64 got)
{
    if (got > 0) {
        m_read += got;
        return writeOut(m_buffer.data(), qsizetype(got));
    }
    struct stat info = {};
    if (::stat(m_encodedPath.constData(), &info) != 0 || quint64(info.st_dev) != m_device ||
        quint64(info.st_ino) != m_inode) {
        end(Outcome::Replaced);
        return false;
    }
    if (info.st_size < m_read) {
        end(Outcome::Truncated);
        return false;
    }
    if (info.st_size > m_read && ++m_catchUpRounds < kCatchUpRounds)
        return true;
    return replaceLog();
}

bool LineRewriter::replaceLog()
{
    // No wait for the disk here: it would hold the loop for as long as the disk takes. Renaming a
    // new file over an existing one makes ext4 (auto_da_alloc), xfs and btrfs write the new
    // file's data before the rename.
    if (std::rename(m_encodedNewPath.constData(), m_encodedPath.constData()) != 0) {
        fail(QStringLiteral("cannot replace the log by ") + m_path + QLatin1String(".new: ") +
             errorText(errno));
        return false;
    }
    // A writer that opened the old log before the rename may still have added to it; the new
    // file is the log now, so those lines follow on there.
    ::close(m_newFd);
    m_oldIsGone = true;
    m_newFd = ::open(m_encodedPath.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    for (;;) {
        ssize_t got;
        do
            got = ::pread(m_oldFd, m_buffer.data(), m_buffer.size(), off_t(m_read));
        while (got < 0 && errno == EINTR);
        if (got <= 0 || m_newFd < 0 || !writeAll(m_newFd, m_buffer.data(), got))
            break;
        m_read += got;
        m_written += got;
    }
    closeFiles();
    m_failure.clear();
    end(Outcome::Rewritten);
    return true;
}

bool LineRewriter::writeOut(const char* data, qsizetype size)
{
    if (!writeAll(m_newFd, data, size)) {
        fail(QStringLiteral("cannot copy the kept lines to ") + m_path + QLatin1String(".new: ") +
             errorText(errno));
        return false;
    }
    m_written += size;
    // The disk is asked to write the copy as it grows, without a wait, so that the rename finds
    // little left to write out.
    if (m_written - m_writtenOut >= kChunk) {
        ::sync_file_range(m_newFd, m_writtenOut, m_written - m_writtenOut, SYNC_FILE_RANGE_WRITE);
        m_writtenOut = m_written;
    }
    return true;
}

LineRewriter::Step LineRewriter::end(Outcome outcome)
{
    const bool created = m_newFd >= 0 && outcome != Outcome::Rewritten;
    closeFiles();
    if (created)
        ::unlink(m_encodedNewPath.constData());
    m_buffer = {};
    m_outcome = outcome;
    m_phase = Phase::Done;
    return Step::Ended;
}

LineRewriter::Step LineRewriter::fail(const QString& what)
{
    m_failure = what;
    return end(Outcome::Failed);
}

void LineRewriter::closeFiles()
{
    if (m_oldFd >= 0 && m_oldIsGone)
        closeInBackground(m_oldFd);
    else if (m_oldFd >= 0)
        ::close(m_oldFd);
    if (m_newFd >= 0)
        ::close(m_newFd);
    m_oldFd = -1;
    m_newFd = -1;
}
