#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QStringList>

// Small file helpers shared by the server's tests.
namespace TestFiles {

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

// The file's lines without their CR LF; a last line without a line end counts too.
inline QList<QByteArray> lines(const QString& path)
{
    QList<QByteArray> result = readAll(path).split('\n');
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    for (QByteArray& line : result)
        if (line.endsWith('\r'))
            line.chop(1);
    return result;
}

// The file's permission bits, -1 when it is missing.
inline int unixMode(const QString& path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

// The entry part of a log line: the text after the timestamp's ": ".
inline QByteArray entryOf(const QByteArray& line)
{
    const qsizetype colon = line.indexOf(": ");
    return colon < 0 ? QByteArray() : line.mid(colon + 2);
}

// The entries of the log at `path`, in order.
inline QStringList logEntries(const QString& path)
{
    QStringList entries;
    for (const QByteArray& line : lines(path))
        if (!line.isEmpty())
            entries << QString::fromLatin1(entryOf(line));
    return entries;
}

} // namespace TestFiles
