// Compares VERSION round trips over the WebSocket port with the same over the TCP port of one
// real server, each from one blocking client on its own connection. Both clients are as thin as
// the socket calls themselves (the WebSocket one frames and masks by hand), so the difference is
// the server's. Target: the WebSocket rate is at least 0.8 of the TCP rate.
//
//   build/bin/websocket_bench [--requests N]

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <QCoreApplication>

#include "loopbackclient.h"
#include "serverprocess.h"

using namespace LoopbackClient;

namespace {

// Opens the WebSocket connection: sends the handshake and reads the answer's head.
bool webSocketHandshake(int fd)
{
    if (!sendAll(fd, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                     "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                     "Sec-WebSocket-Version: 13\r\n\r\n"))
        return false;
    QByteArray head;
    char byte = 0;
    while (!head.endsWith("\r\n\r\n")) {
        if (::recv(fd, &byte, 1, 0) != 1)
            return false;
        head += byte;
    }
    return head.startsWith("HTTP/1.1 101");
}

// One VERSION request as a masked text frame, and its reply frame.
bool webSocketVersionRoundTrip(int fd)
{
    static const QByteArray frame = [] {
        const char mask[4] = {0x12, 0x34, 0x56, 0x78};
        QByteArray bytes;
        bytes += char(0x81); // final frame, text
        bytes += char(0x80 | kVersionRequest.size());
        bytes += QByteArray(mask, 4);
        for (qsizetype i = 0; i < kVersionRequest.size(); ++i)
            bytes += char(kVersionRequest.at(i) ^ mask[i % 4]);
        return bytes;
    }();
    if (!sendAll(fd, frame))
        return false;
    const qsizetype expected = 2 + kVersionReply.size();
    char buffer[256];
    qsizetype received = 0;
    while (received < expected) {
        const ssize_t n = ::recv(fd, buffer + received, sizeof buffer - received, 0);
        if (n <= 0)
            return false;
        received += n;
    }
    return QByteArray(buffer + 2, received - 2) == kVersionReply;
}

// Round trips per second over `count` requests after a warm-up; 0 when the server stopped.
double rate(int fd, bool (*roundTrip)(int), int count)
{
    for (int i = 0; i < 100; ++i) {
        if (!roundTrip(fd))
            return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!roundTrip(fd))
            return 0;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return count / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int requests = 5000;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--requests"));
    if (at > 0 && at + 1 < args.size())
        requests = std::clamp(args.at(at + 1).toInt(), 100, 1000000);
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[WebSocket]\r\nPort=%1\r\n").arg(wsPort));
    if (!server.start()) {
        std::fprintf(stderr, "websocket_bench: the server did not start\n");
        return 1;
    }
    const int tcpFd = connectTo(server.port());
    const int wsFd = connectTo(wsPort);
    if (tcpFd < 0 || wsFd < 0 || !webSocketHandshake(wsFd)) {
        std::fprintf(stderr, "websocket_bench: cannot connect to both ports\n");
        return 1;
    }

    // Alternating rounds, the best of each, so a busy moment of the machine hits both alike.
    double tcp = 0;
    double ws = 0;
    for (int round = 0; round < 3; ++round) {
        tcp = std::max(tcp, rate(tcpFd, versionRoundTrip, requests));
        ws = std::max(ws, rate(wsFd, webSocketVersionRoundTrip, requests));
    }
    ::close(tcpFd);
    ::close(wsFd);
    server.stop();
    if (tcp <= 0 || ws <= 0) {
        std::fprintf(stderr, "websocket_bench: the server stopped answering\n");
        return 1;
    }
    std::printf("VERSION round trips, %d per round, best of 3 rounds, one connection each\n",
                requests);
    std::printf("  TCP:       %9.0f per second\n", tcp);
    std::printf("  WebSocket: %9.0f per second\n", ws);
    std::printf("  WebSocket / TCP: %.2f (target at least 0.80: %s)\n", ws / tcp,
                ws / tcp >= 0.8 ? "met" : "missed");
    return 0;
}
