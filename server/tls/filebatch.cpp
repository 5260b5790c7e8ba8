#include "tls/filebatch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>

namespace {

QString errorText(const char* what, const QByteArray& path)
{
    return QStringLiteral("cannot %1 %2: %3")
        .arg(QLatin1String(what), QFile::decodeName(path),
             QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace

FileBatch::~FileBatch()
{
    // Before a commit these hold the new files; after it, the old ones; after an undo, the new
    // ones again.
    for (const Entry& entry : m_entries)
        ::unlink(entry.beside.constData());
}

bool FileBatch::add(const QString& path, const QByteArray& bytes, unsigned mode, QString* reason)
{
    Entry entry{QFile::encodeName(path), QFile::encodeName(path) + ".new"};
    // A file of that name is a leftover of an earlier run; a link there is removed, not
    // followed, and O_EXCL makes sure nothing took its place since.
    ::unlink(entry.beside.constData());
    const int fd = ::open(entry.beside.constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        *reason = errorText("write", entry.target);
        return false;
    }
    m_entries.push_back(entry);
    if (::fchmod(fd, mode_t(mode)) != 0 || !writeAll(fd, bytes) || ::fsync(fd) != 0) {
        *reason = errorText("write", entry.target);
        ::close(fd);
        return false;
    }
    if (::close(fd) != 0) {
        *reason = errorText("write", entry.target);
        return false;
    }
    return true;
}

bool FileBatch::commit(QString* reason)
{
    // A folder in a target's place would be swapped away whole: refused before anything moves.
    for (const Entry& entry : m_entries) {
        struct stat there;
        if (::lstat(entry.target.constData(), &there) == 0 && S_ISDIR(there.st_mode)) {
            *reason = QStringLiteral("cannot replace %1: it is a folder")
                          .arg(QFile::decodeName(entry.target));
            return false;
        }
    }
    for (Entry& entry : m_entries) {
        const char* from = entry.beside.constData();
        const char* to = entry.target.constData();
        // An existing target is exchanged with the new file, so that an undo can swap it back.
        // A filesystem that cannot exchange names (EINVAL) gets a plain rename: a target it
        // replaces cannot come back.
        if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
            entry.placed = Placed::Swapped;
        } else if (errno == ENOENT) {
            if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0 ||
                (errno == EINVAL && ::rename(from, to) == 0))
                entry.placed = Placed::Made;
        } else if (errno == EINVAL && ::rename(from, to) == 0) {
            entry.placed = Placed::Replaced;
        }
        if (entry.placed == Placed::No) {
            *reason = errorText("replace", entry.target);
            undo();
            return false;
        }
    }
    return true;
}

void FileBatch::undo()
{
    for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
        if (entry->placed == Placed::Swapped)
            ::renameat2(AT_FDCWD, entry->beside.constData(), AT_FDCWD, entry->target.constData(),
                        RENAME_EXCHANGE);
        else if (entry->placed == Placed::Made)
            ::unlink(entry->target.constData());
        entry->placed = Placed::No;
    }
}
