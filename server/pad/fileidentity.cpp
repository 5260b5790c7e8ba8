#include "pad/fileidentity.h"

#include <sys/stat.h>

#include <QFile>

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    struct stat info = {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{quint64(info.st_dev), quint64(info.st_ino), qint64(info.st_size),
                        qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}
