// Measures the request server's VERSION round trips per second on one connection and on 32
// at once, against a minimal loopback echo over the same Qt sockets, and the time the log
// purge takes on a 1,000,000-line log of which half is older than seven days.
//
//   build/bin/requestserver_bench [--transactions N]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
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

namespace {

using Clock = std::chrono::steady_clock;

const QByteArray kRequest("TRANS=VERSION;");
const QByteArray kReply("<VERSION>1.0.0</VERSION>");

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
                socket->write(kReply);
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    return QCoreApplication::exec();
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ::close(fd);
    return -1;
}

// One request, then reads until the whole reply is in. False when the peer stopped answering.
bool roundTrip(int fd)
{
    if (::send(fd, kRequest.constData(), kRequest.size(), 0) != kRequest.size())
        return false;
    char buffer[256];
    qsizetype received = 0;
    while (received < kReply.size()) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received += n;
    }
    return true;
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
                if (fd < 0 || !roundTrip(fd)) {
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

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
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

    const QString bin = QCoreApplication::applicationDirPath();
    const quint16 echoPort = freePort();
    QProcess echo;
    echo.start(QCoreApplication::applicationFilePath(),
               {QStringLiteral("--echo"), QString::number(echoPort)});

    QTemporaryDir home;
    const quint16 serverPort = freePort();
    QFile ini(home.filePath(QStringLiteral("varnelpayment.ini")));
    ini.open(QIODevice::WriteOnly);
    ini.write("[Local]\r\nlocalSockport=" + QByteArray::number(serverPort) + "\r\n");
    ini.close();
    QProcess server;
    server.start(bin + QStringLiteral("/varnelpayment"),
                 {QStringLiteral("--headless"), QStringLiteral("--home"), home.path()});
    server.waitForStarted();

    std::printf("VERSION round trips, %d per run\n", transactions);
    const double echoOne = measureRate(echoPort, 1, transactions);
    const double serverOne = measureRate(serverPort, 1, transactions);
    const double echoMany = measureRate(echoPort, 32, transactions / 32);
    const double serverMany = measureRate(serverPort, 32, transactions / 32);
    std::printf("  1 connection:   server %8.0f/s   echo baseline %8.0f/s   (target: server "
                "at least 5000/s)\n",
                serverOne, echoOne);
    std::printf("  32 connections: server %8.0f/s   echo baseline %8.0f/s\n", serverMany, echoMany);

    server.terminate();
    server.waitForFinished();
    echo.kill();
    echo.waitForFinished();

    measurePurge();
    return 0;
}
