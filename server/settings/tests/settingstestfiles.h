#pragma once

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>

// Small file helpers shared by the settings tests.
namespace SettingsTestFiles {

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

// The file's permission bits, -1 when it is missing.
inline int unixMode(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace SettingsTestFiles
