// Measures how long the log's purges hold the event loop: a log just past the default cap
// (MaxLogMegabytes=256) is purged to size, then a log of the same size whose first half is a
// week old is purged by age, each while a 1 ms timer logs a line on every tick. Prints the
// longest gap between ticks (the longest hold), the purge's length and the lines logged meanwhile.
// Target: no gap over 10 ms. With --cold the log is dropped from the page cache first, so
// that the purge reads from the disk.
//
//   build/bin/logpurge_bench [--megabytes N] [--cold]

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include "core/clock.h"
#include "core/scheduler.h"
#include "log/activitylog.h"

namespace {

// Writes `megabytes` of log lines, the first half dated a week ago when `halfOld`.
void writeLog(const QString& path, qint64 megabytes, bool halfOld, bool cold)
{
    const QByteArray oldStamp =
        ActivityLog::timestamp(QDateTime::currentDateTime().addDays(-9)).toLatin1();
    const QByteArray newStamp = ActivityLog::timestamp(QDateTime::currentDateTime()).toLatin1();
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const qint64 total = megabytes * 1024 * 1024;
    QByteArray chunk;
    for (qint64 written = 0; written < total;) {
        const bool old = halfOld && written < total / 2;
        chunk += old ? oldStamp : newStamp;
        chunk += ": Socket: DataArrival Parse tag=[TRANS] value=[VERSION]\r\n";
        if (chunk.size() > (1 << 20)) {
            written += file.write(chunk);
            chunk.clear();
        }
    }
    file.flush();
    if (cold) {
        ::fsync(file.handle());
        ::posix_fadvise(file.handle(), 0, 0, POSIX_FADV_DONTNEED);
    }
}

void measure(const char* what, const QString& path, int capMegabytes, bool agePurge)
{
    SystemClock clock;
    QtScheduler scheduler;
    ActivityLog log(path, clock, LogLimits{capMegabytes}, &scheduler);
    const qint64 before = QFileInfo(path).size();
    QElapsedTimer sinceTick;
    qint64 longestGapMs = 0;
    int lines = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGapMs = qMax(longestGapMs, sinceTick.restart());
        log.log(QStringLiteral("Socket: DataArrival Parse tag=[TRANS] value=[VERSION]"));
        ++lines;
        if (!log.purging())
            QCoreApplication::quit();
    });
    QElapsedTimer purge;
    purge.start();
    if (agePurge)
        log.purge_log();
    else
        log.log(QStringLiteral("past the cap"));
    const qint64 firstStepMs = purge.elapsed();
    sinceTick.start();
    tick.start(1);
    QCoreApplication::exec();
    std::printf("%s: %lld of %lld MB kept in %lld ms; first step %lld ms; longest gap between "
                "1 ms ticks %lld ms; %d lines logged meanwhile (target: no gap over 10 ms)\n",
                what, static_cast<long long>(QFileInfo(path).size() >> 20),
                static_cast<long long>(before >> 20), static_cast<long long>(purge.elapsed()),
                static_cast<long long>(firstStepMs), static_cast<long long>(longestGapMs), lines);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 megabytes = 257;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg = argv[i];
        if (arg == "--megabytes" && i + 1 < argc)
            megabytes = QByteArray(argv[++i]).toLongLong();
        else if (arg == "--cold")
            cold = true;
        else {
            std::fprintf(stderr, "usage: logpurge_bench [--megabytes N] [--cold]\n");
            return 2;
        }
    }
    if (megabytes < 2) {
        std::fprintf(stderr, "logpurge_bench: --megabytes must be 2 or more\n");
        return 2;
    }
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("varnelpayment.log"));
    writeLog(path, megabytes, false, cold);
    measure("size purge", path, int(megabytes - 1), false);
    // A fresh file: freeing the purged one's blocks is no part of the age purge's cost.
    QFile::remove(path);
    QThread::sleep(1);
    writeLog(path, megabytes, true, cold);
    measure("age purge", path, 100000, true);
    return 0;
}
