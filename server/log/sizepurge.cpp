#include "log/sizepurge.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>

namespace {

constexpr qsizetype kChunk = 1024 * 1024;
// Rounds of "copy what was appended" before the rename; a writer that never pauses is caught by
// the copy after the rename instead.
constexpr int kCatchUpRounds = 8;

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Reads up to `size` bytes at `offset`, retrying on EINTR; -1 on a failure.
ssize_t readAt(int fd, char* data, qsizetype size, qint64 offset)
{
    ssize_t got;
    do
        got = ::pread(fd, data, size_t(size), off_t(offset));
    while (got < 0 && errno == EINTR);
    return got;
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

SizePurge::SizePurge(QString logPath, qint64 keepBytes)
    : m_path(std::move(logPath)), m_encodedPath(QFile::encodeName(m_path)),
      m_encodedNewPath(QFile::encodeName(m_path + QLatin1String(".new"))), m_keepBytes(keepBytes)
{
}

SizePurge::~SizePurge()
{
    // A purge left after its first step leaves no work file behind.
    const bool unfinished = m_newFd >= 0;
    closeFiles();
    if (unfinished)
        ::unlink(m_encodedNewPath.constData());
}

SizePurge::Outcome SizePurge::run()
{
    return copyNewestLines() ? replaceLog() : m_outcome;
}

bool SizePurge::copyNewestLines()
{
    m_oldFd = ::open(m_encodedPath.constData(), O_RDONLY | O_CLOEXEC);
    if (m_oldFd < 0) {
        if (errno == ENOENT)
            m_outcome = Outcome::Replaced;
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
    const qint64 size = info.st_size;
    if (size <= m_keepBytes) {
        m_outcome = Outcome::NotNeeded;
        closeFiles();
        return false;
    }

    ::unlink(m_encodedNewPath.constData()); // left by a purge that was interrupted
    m_newFd = ::open(m_encodedNewPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (m_newFd < 0) {
        fail(QStringLiteral("cannot create ") + m_path + QLatin1String(".new: ") +
             errorText(errno));
        return false;
    }

    // The kept lines start at the first line start at or after `cutFrom`. A line end is
    // looked for up to the measured size only, so the last line measured is always kept, even
    // when it alone is longer than keepBytes.
    const qint64 cutFrom = size - m_keepBytes;
    std::vector<char> buffer(kChunk);
    qint64 offset = 0;
    qint64 lastLineStart = 0;
    qint64 cut = -1;
    while (cut < 0 && offset < size) {
        const ssize_t got = readAt(m_oldFd, buffer.data(), qMin(kChunk, size - offset), offset);
        if (got <= 0) {
            fail(QStringLiteral("cannot read ") + m_path);
            return false;
        }
        const char* begin = buffer.data();
        const char* end = begin + got;
        for (const char* p = begin; p < end;) {
            const auto* newline = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
            if (!newline)
                break;
            const qint64 next = offset + (newline - begin) + 1;
            if (next >= size)
                break;
            ++m_dropped;
            lastLineStart = next;
            if (next >= cutFrom) {
                cut = next;
                break;
            }
            p = newline + 1;
        }
        offset += got;
    }
    if (cut < 0)
        cut = lastLineStart;
    m_copied = cut;
    if (m_dropped == 0) {
        m_outcome = Outcome::NotNeeded; // one line longer than keepBytes
        closeFiles();
        ::unlink(m_encodedNewPath.constData());
        return false;
    }
    return copyAppended();
}

bool SizePurge::copyAppended()
{
    std::vector<char> buffer(kChunk);
    for (;;) {
        const ssize_t got = readAt(m_oldFd, buffer.data(), kChunk, m_copied);
        if (got == 0)
            return true;
        if (got < 0 || !writeAll(m_newFd, buffer.data(), got)) {
            fail(QStringLiteral("cannot copy the newest lines to ") + m_path +
                 QLatin1String(".new"));
            return false;
        }
        m_copied += got;
        m_written += got;
    }
}

SizePurge::Outcome SizePurge::replaceLog()
{
    for (int round = 0; round < kCatchUpRounds; ++round) {
        struct stat info = {};
        if (::stat(m_encodedPath.constData(), &info) != 0 || quint64(info.st_dev) != m_device ||
            quint64(info.st_ino) != m_inode) {
            m_outcome = Outcome::Replaced;
            closeFiles();
            ::unlink(m_encodedNewPath.constData());
            return m_outcome;
        }
        if (info.st_size < m_copied) {
            m_outcome = Outcome::Truncated;
            closeFiles();
            ::unlink(m_encodedNewPath.constData());
            return m_outcome;
        }
        if (info.st_size == m_copied)
            break;
        if (!copyAppended())
            return m_outcome;
    }
    // No wait for the disk here, unlike the hourly age purge: this purge runs while requests
    // flood in, and waiting for (or even starting) the copy's write-out held every request up,
    // a sixth of the request rate on a busy machine. Renaming a new file over an existing one
    // makes ext4 (auto_da_alloc), xfs and btrfs write the new file's data before the rename.
    if (std::rename(m_encodedNewPath.constData(), m_encodedPath.constData()) != 0)
        return fail(QStringLiteral("cannot replace the log by ") + m_path +
                    QLatin1String(".new: ") + errorText(errno));
    // A writer that opened the old log before the rename may still have added to it; the new
    // file is the log now, so those lines follow on there.
    ::close(m_newFd);
    m_newFd = ::open(m_encodedPath.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (m_newFd >= 0)
        copyAppended();
    closeFiles();
    m_failure.clear();
    m_outcome = Outcome::Purged;
    return m_outcome;
}

SizePurge::Outcome SizePurge::fail(const QString& what)
{
    m_failure = what;
    m_outcome = Outcome::Failed;
    const bool created = m_newFd >= 0;
    closeFiles();
    if (created)
        ::unlink(m_encodedNewPath.constData());
    return m_outcome;
}

void SizePurge::closeFiles()
{
    if (m_oldFd >= 0)
        ::close(m_oldFd);
    if (m_newFd >= 0)
        ::close(m_newFd);
    m_oldFd = -1;
    m_newFd = -1;
}
