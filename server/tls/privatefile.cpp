#include "tls/privatefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QFile>

bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    auto fail = [&](const char* what) {
        *reason = QStringLiteral("cannot %1 %2: %3")
                      .arg(QLatin1String(what), path, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temporary.constData());
        return false;
    };
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return fail("write");
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return fail("write");
        }
        written += n;
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0)
        return fail("write");
    if (::rename(temporary.constData(), target.constData()) != 0)
        return fail("replace");
    return true;
}
