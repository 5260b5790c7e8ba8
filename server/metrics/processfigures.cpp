#include "metrics/processfigures.h"

#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QList>

namespace {

QByteArray readFile(const char* path)
{
    QFile file(QString::fromLatin1(path));
    // /proc files report no size: read until the end.
    return file.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ? file.readAll() : QByteArray();
}

// The machine's boot time (Unix seconds), from the "btime" line of /proc/stat.
std::optional<double> bootTime()
{
    for (const QByteArray& line : readFile("/proc/stat").split('\n'))
        if (line.startsWith("btime "))
            return line.mid(6).trimmed().toDouble();
    return std::nullopt;
}

} // namespace

std::optional<ProcessFigures> ProcessFigures::read()
{
    const QByteArray stat = readFile("/proc/self/stat");
    // The program's name, in parentheses, may hold blanks: the fields are counted after it.
    const qsizetype nameEnd = stat.lastIndexOf(')');
    const std::optional<double> boot = bootTime();
    if (nameEnd < 0 || !boot)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(nameEnd + 2).split(' ');
    // Field 3 (state) is fields[0]: utime is field 14, stime 15, starttime 22, rss 24.
    if (fields.size() < 22)
        return std::nullopt;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    const double page = double(::sysconf(_SC_PAGESIZE));
    ProcessFigures figures;
    figures.cpuSeconds = (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
    figures.startTimeSeconds = *boot + fields.at(19).toDouble() / ticks;
    figures.residentMemoryBytes = fields.at(21).toDouble() * page;
    return figures;
}
