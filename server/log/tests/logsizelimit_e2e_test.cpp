// End-to-end: the real varnelpayment binary with a small log cap, flooded with requests over
// loopback.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include "serverprocess.h"
#include "testfiles.h"

using namespace TestFiles;

namespace {

const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");
constexpr qint64 kCap = 2 * 1024 * 1024;
constexpr int kConnections = 4;

// A blocking loopback connection with a five-second receive limit; -1 when it cannot connect.
int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit = {5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One VERSION request naming itself `name`, and its whole reply.
bool versionRequest(int fd, const QByteArray& name)
{
    const QByteArray request = "TRANS=VERSION;NAME=" + name + ';';
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
        return false;
    QByteArray reply;
    char buffer[256];
    while (reply.size() < kVersionReply.size()) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        reply.append(buffer, got);
    }
    return reply == kVersionReply;
}

qint64 fileSize(const QByteArray& path)
{
    struct stat info = {};
    return ::stat(path.constData(), &info) == 0 ? qint64(info.st_size) : 0;
}

} // namespace

// A client that floods the server cannot take the log past its cap: the oldest lines go, the
// newest stay, every line stays whole and the purge says so.
TEST(LogSizeLimitE2E, AFloodOfRequestsKeepsTheLogUnderItsCap)
{
    ServerProcess server(QStringLiteral("MaxLogMegabytes=2\r\n"));
    ASSERT_TRUE(server.start()) << "server did not start";
    const QString logPath = server.home() + QStringLiteral("/varnelpayment.log");
    const QByteArray encodedLog = QFile::encodeName(logPath);

    // One request's lines, measured over a few requests.
    std::vector<int> fds;
    for (int i = 0; i < kConnections; ++i)
        fds.push_back(connectTo(server.port()));
    for (int fd : fds)
        ASSERT_GE(fd, 0);
    const qint64 before = fileSize(encodedLog);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(versionRequest(fds[0], "measure"));
    const qint64 perRequest = (fileSize(encodedLog) - before) / 20 + 1;
    ASSERT_GT(perRequest, 100);
    const int perConnection = int(12 * 1024 * 1024 / perRequest / kConnections);

    std::atomic<bool> flooding = true;
    std::atomic<qint64> largest = 0;
    std::thread sampler([&] {
        while (flooding) {
            largest = qMax(largest.load(), fileSize(encodedLog));
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    std::atomic<int> failures = 0;
    std::vector<std::thread> clients;
    for (int c = 0; c < kConnections; ++c)
        clients.emplace_back([&, c] {
            for (int i = 0; i < perConnection; ++i)
                if (!versionRequest(fds[size_t(c)],
                                    QStringLiteral("c%1-%2").arg(c).arg(i).toLatin1())) {
                    ++failures;
                    return;
                }
        });
    for (auto& client : clients)
        client.join();
    flooding = false;
    sampler.join();
    ASSERT_EQ(failures, 0);
    EXPECT_LE(largest, kCap + perRequest);

    // The last request's lines end the log.
    TestClient last;
    ASSERT_TRUE(last.connectTo(server.port()));
    EXPECT_EQ(last.transact("TRANS=VERSION;NAME=last;", kVersionReply), kVersionReply);
    const QString connected = QStringLiteral("Socket: ConnectionRequest ip=[127.0.0.1] port=[%1]")
                                  .arg(last.socket().localPort());
    last.close();
    const QString separator(64, QLatin1Char('-'));
    const QStringList expectedEnd{
        connected,
        QStringLiteral("Socket: Transaction Start ") + separator,
        QStringLiteral("Socket: DataArrival Parse tag=[TRANS] value=[VERSION]"),
        QStringLiteral("Socket: DataArrival Parse tag=[NAME] value=[last]"),
        QStringLiteral("Socket: DataArrival Parse transType=[VERSION] action=[] doFtp=[False] "
                       "name=[last] total=[] "),
        QStringLiteral("return_xml: <VERSION>1.0.0</VERSION>"),
        QStringLiteral("Socket: Transaction End ") + separator,
        QStringLiteral("Socket: Close 127.0.0.1")};
    for (int i = 0; i < 100 && server.logEntriesFrom(connected) != expectedEnd; ++i)
        QThread::msleep(50);
    EXPECT_EQ(server.logEntriesFrom(connected), expectedEnd);

    // Every line is whole; each connection's requests run without a gap.
    const QRegularExpression wholeLine(
        QStringLiteral(R"(^\d{1,2}/\d{1,2}/\d{4} \d{1,2}:\d{2}:\d{2} [AP]M: [^\r\n]*$)"));
    const QRegularExpression named(
        QStringLiteral(R"(^Socket: DataArrival Parse tag=\[NAME\] value=\[c(\d)-(\d+)\]$)"));
    const QRegularExpression sizeLimit(
        QStringLiteral(R"(^purge_log: size limit MaxLogMegabytes=\[2\] purgeCt=\[[1-9]\d*\]$)"));
    const QByteArray bytes = readAll(logPath);
    EXPECT_LE(bytes.size(), kCap + perRequest);
    EXPECT_TRUE(bytes.endsWith("\r\n"));
    std::vector<int> next(kConnections, -1);
    bool sizeLimitLine = false;
    for (const QByteArray& line : lines(logPath)) {
        const QString text = QString::fromLatin1(line);
        ASSERT_TRUE(wholeLine.match(text).hasMatch()) << line.left(100).constData();
        const QString entry = QString::fromLatin1(entryOf(line));
        sizeLimitLine |= sizeLimit.match(entry).hasMatch();
        const auto request = named.match(entry);
        if (!request.hasMatch())
            continue;
        const int connection = request.captured(1).toInt();
        const int number = request.captured(2).toInt();
        if (next[size_t(connection)] >= 0) {
            ASSERT_EQ(number, next[size_t(connection)]) << "connection " << connection;
        }
        next[size_t(connection)] = number + 1;
    }
    EXPECT_TRUE(sizeLimitLine);
    // The connections were served unevenly, so only the last to finish may still have lines;
    // a connection that has any has its last request's.
    int present = 0;
    for (int c = 0; c < kConnections; ++c) {
        if (next[size_t(c)] < 0)
            continue;
        ++present;
        EXPECT_EQ(next[size_t(c)], perConnection) << "connection " << c;
    }
    EXPECT_GE(present, 1);
    EXPECT_FALSE(QFileInfo::exists(logPath + QStringLiteral(".new")));
    for (int fd : fds)
        ::close(fd);
}

// An unusable cap is logged at start-up, and the default one is used.
TEST(LogSizeLimitE2E, AnUnusableCapIsLogged)
{
    for (const char* value : {"0", "-1", "100001", "abc"}) {
        SCOPED_TRACE(value);
        ServerProcess server(QStringLiteral("MaxLogMegabytes=%1\r\n").arg(QLatin1String(value)));
        ASSERT_TRUE(server.start()) << "server did not start";
        EXPECT_TRUE(server.waitForLogEntry(
            QStringLiteral("Settings: MaxLogMegabytes=[%1] is not a whole number from 1 to "
                           "100000; 256 is used")
                .arg(QLatin1String(value))));
    }
}
