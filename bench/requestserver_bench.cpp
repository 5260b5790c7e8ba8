// Measures the request server's VERSION round trips per second on one connection and on 32
// at once, against a minimal loopback echo over the same Qt sockets, and the time the log
// purge takes on a 1,000,000-line log of which half is older than seven days.
//
//   build/bin/requestserver_bench [--transactions N]

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "core/clock.h"
#include "log/activitylog.h"
#include "loopbackclient.h"
#include "serverprocess.h"

namespace {

using namespace LoopbackClient;

using Clock = std::chrono::steady_clock;

// The baseline: answers every receipt with the version reply, nothing else.
int runEchoServer(quint16 port)
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, port))
        return 1;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                socket->readAll();
                socket->write(kVersionReply);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return QCoreApplication::exec();
}

// Round trips per second over `connections` connections, `perConnection` each.
double measureRate(quint16 port, int connections, int perConnection)
{
    std::vector<int> fds;
    for (int i = 0; i < connections; ++i)
        fds.push_back(connectTo(port));
    std::atomic<int> failures = 0;
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int fd : fds) {
        threads.emplace_back([fd, perConnection, &failures] {
            for (int i = 0; i < perConnection; ++i)
                if (fd < 0 || !versionRoundTrip(fd)) {
                    ++failures;
                    return;
                }
        });
    }
    for (auto& thread : threads)
        thread.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (int fd : fds)
        ::close(fd);
    if (failures > 0)
        std::fprintf(stderr, "  %d connection(s) failed\n", failures.load());
    return connections * perConnection / seconds;
}

void measurePurge()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("varnelpayment.log"));
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray oldStamp = ActivityLog::timestamp(now.addDays(-10)).toLatin1();
    const QByteArray newStamp = ActivityLog::timestamp(now.addDays(-2)).toLatin1();
    QByteArray chunk;
    for (int i = 0; i < 1'000'000; ++i) {
        chunk += (i % 2 ? newStamp : oldStamp);
        chunk += ": Socket: DataArrival Parse tag=[TRANS] value=[VERSION]\r\n";
        if (chunk.size() > (1 << 20)) {
            file.write(chunk);
            chunk.clear();
        }
    }
    file.write(chunk);
    file.close();

    SystemClock clock;
    ActivityLog log(path, clock);
    QElapsedTimer timer;
    timer.start();
    const qint64 dropped = log.purge_log();
    const qint64 ms = timer.elapsed();
    std::printf("purge of 1,000,000 lines (half older than 7 days): %lld ms, %lld dropped "
                "(target: under 2000 ms)\n",
                static_cast<long long>(ms), static_cast<long long>(dropped));
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--echo"))
        return runEchoServer(args.at(2).toUShort());
    int transactions = 20000;
    const qsizetype at = args.indexOf(QStringLiteral("--transactions"));
    if (at > 0 && at + 1 < args.size())
        transactions = args.at(at + 1).toInt();

    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    const quint16 echoPort = ServerProcess::freePort();
    QProcess echo;
    echo.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--echo"), QString::number(echoPort)});
    ServerProcess server;
    if (!server.start()) {
        std::fprintf(stderr, "requestserver_bench: the server did not start\n");
        return 1;
    }
    const quint16 serverPort = server.port();

    std::printf("VERSION round trips, %d per run\n", transactions);
    const double echoOne = measureRate(echoPort, 1, transactions);
    const double serverOne = measureRate(serverPort, 1, transactions);
    const double echoMany = measureRate(echoPort, 32, transactions / 32);
    const double serverMany = measureRate(serverPort, 32, transactions / 32);
    std::printf("  1 connection:   server %8.0f/s   echo baseline %8.0f/s   (target: server "
                "at least 5000/s)\n",
                serverOne, echoOne);
    std::printf("  32 connections: server %8.0f/s   echo baseline %8.0f/s\n", serverMany, echoMany);

    server.stop();
    echo.kill();
    echo.waitForFinished();

    measurePurge();
    return 0;
}
