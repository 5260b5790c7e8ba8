// The TLS port against the TCP port of one real server: VERSION round trips per second on one
// kept-open connection each, and the VERSION latency of a till on another connection while
// other clients do nothing but TLS handshakes with the server, as fast as they can. The clients
// are blocking libssl and plain sockets, as thin as the calls themselves. Targets: the TLS rate
// is at least 0.7 of the TCP rate; under the flood the till's p99 stays under 50 ms.
//
//   build/bin/tls_bench [--requests N] [--flooders N]

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include "latencies.h"
#include "loopbackclient.h"
#include "serverprocess.h"

using namespace LoopbackClient;

namespace {

using Clock = std::chrono::steady_clock;

bool runProgram(const QStringList& arguments)
{
    QProcess process;
    process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"), arguments);
    return process.waitForFinished(60000) && process.exitCode() == 0;
}

// One blocking TLS connection to the server's TLS port.
struct TlsClient
{
    int fd = -1;
    SSL* ssl = nullptr;

    ~TlsClient()
    {
        if (ssl) {
            SSL_shutdown(ssl);
            SSL_free(ssl);
        }
        if (fd >= 0)
            ::close(fd);
    }
    bool open(SSL_CTX* context, quint16 port)
    {
        fd = connectTo(port);
        if (fd < 0)
            return false;
        ssl = SSL_new(context);
        SSL_set_fd(ssl, fd);
        SSL_set_tlsext_host_name(ssl, "localhost");
        return SSL_connect(ssl) == 1;
    }
    bool versionRoundTrip()
    {
        if (SSL_write(ssl, kVersionRequest.constData(), int(kVersionRequest.size())) <= 0)
            return false;
        char buffer[256];
        int received = 0;
        while (received < kVersionReply.size()) {
            const int n = SSL_read(ssl, buffer + received, int(sizeof buffer) - received);
            if (n <= 0)
                return false;
            received += n;
        }
        return QByteArray(buffer, received) == kVersionReply;
    }
};

// Round trips per second over `count` requests after a warm-up; 0 when the server stopped.
template <typename RoundTrip> double rate(RoundTrip roundTrip, int count)
{
    for (int i = 0; i < 100; ++i)
        if (!roundTrip())
            return 0;
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i)
        if (!roundTrip())
            return 0;
    return count / std::chrono::duration<double>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int requests = 5000;
    int flooders = 2;
    const QStringList args = app.arguments();
    const auto option = [&args](const char* name, int fallback, int lowest, int highest) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? std::clamp(args.at(at + 1).toInt(), lowest, highest)
                                              : fallback;
    };
    requests = option("--requests", requests, 100, 1000000);
    flooders = option("--flooders", flooders, 1, 16);
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    // A shop CA and the box's certificate, made as a shop makes them.
    QTemporaryDir files;
    const QString ca = files.filePath(QStringLiteral("ca"));
    const QString box = files.filePath(QStringLiteral("box"));
    if (!runProgram({QStringLiteral("--make-ca"), ca}) ||
        !runProgram({QStringLiteral("--home"), box, QStringLiteral("--make-certificate"),
                     QStringLiteral("--ca"), ca, QStringLiteral("localhost")})) {
        std::fprintf(stderr, "tls_bench: cannot make the certificates\n");
        return 1;
    }
    const quint16 tlsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[TLS]\r\nPort=%1\r\n[WebSocket]\r\nCertFile=%2\r\n"
                                        "KeyFile=%3\r\n")
                             .arg(tlsPort)
                             .arg(QDir(box).filePath(QStringLiteral("varnelpayment.pem")),
                                  QDir(box).filePath(QStringLiteral("varnelpayment.key"))));
    if (!server.start()) {
        std::fprintf(stderr, "tls_bench: the server did not start\n");
        return 1;
    }

    const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(
        SSL_CTX_new(TLS_client_method()), &SSL_CTX_free);
    SSL_CTX_load_verify_locations(context.get(), qPrintable(ca + QStringLiteral("/ca.pem")),
                                  nullptr);
    SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
    // Every flood connection does a whole handshake: no session is resumed.
    SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
    SSL_CTX_set_options(context.get(), SSL_OP_NO_TICKET);

    const int tcpFd = connectTo(server.port());
    TlsClient tls;
    if (tcpFd < 0 || !tls.open(context.get(), tlsPort)) {
        std::fprintf(stderr, "tls_bench: cannot connect to both ports\n");
        return 1;
    }
    // Alternating rounds, the best of each, so a busy moment of the machine hits both alike.
    double tcpRate = 0;
    double tlsRate = 0;
    for (int round = 0; round < 3; ++round) {
        tcpRate = std::max(tcpRate, rate([tcpFd] { return versionRoundTrip(tcpFd); }, requests));
        tlsRate = std::max(tlsRate, rate([&tls] { return tls.versionRoundTrip(); }, requests));
    }
    ::close(tcpFd);

    // The till's latency on a connection of its own, first alone, then under the flood.
    const int latencyRequests = std::max(200, requests / 5);
    const Latencies quiet = timeVersionRoundTrips(server.port(), latencyRequests);
    std::atomic<bool> flooding{true};
    std::atomic<long> handshakes{0};
    std::atomic<long> failed{0};
    std::vector<std::thread> flood;
    for (int i = 0; i < flooders; ++i)
        flood.emplace_back([&] {
            while (flooding) {
                TlsClient client;
                (client.open(context.get(), tlsPort) ? handshakes : failed)++;
            }
        });
    // The flood is under way before the till's requests are timed.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto floodStart = Clock::now();
    const long before = handshakes;
    const Latencies flooded = timeVersionRoundTrips(server.port(), latencyRequests);
    const double floodSeconds = std::chrono::duration<double>(Clock::now() - floodStart).count();
    const long during = handshakes - before;
    flooding = false;
    for (std::thread& thread : flood)
        thread.join();
    server.stop();

    if (tcpRate <= 0 || tlsRate <= 0 || !quiet.ok || !flooded.ok) {
        std::fprintf(stderr, "tls_bench: the server stopped answering\n");
        return 1;
    }
    std::printf("VERSION round trips, %d per round, best of 3 rounds, one kept-open connection "
                "each\n",
                requests);
    std::printf("  TCP: %9.0f per second\n", tcpRate);
    std::printf("  TLS: %9.0f per second\n", tlsRate);
    std::printf("  TLS / TCP: %.2f (target at least 0.70: %s)\n", tlsRate / tcpRate,
                tlsRate / tcpRate >= 0.7 ? "met" : "missed");
    std::printf("\nVERSION latency on the TCP port, %d requests, while %d clients do TLS "
                "handshakes (%.0f a second, %ld failed)\n",
                latencyRequests, flooders, during / floodSeconds, long(failed));
    printLatencies("alone:", quiet);
    printLatencies("under the flood:", flooded);
    std::printf("  p99 under the flood: %.2f ms (target under 50 ms: %s)\n", flooded.p99Ms,
                flooded.p99Ms < 50 ? "met" : "missed");
    return 0;
}
