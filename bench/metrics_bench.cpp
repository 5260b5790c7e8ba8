// Compares VERSION round trips on a real server with the metrics port open and scraped once a
// second against the same server with the port closed, from one blocking client. Target: the
// rate with the metrics on is at least 0.95 of the rate with them off.
//
//   build/bin/metrics_bench [--requests N]

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <QCoreApplication>

#include "loopbackclient.h"
#include "serverprocess.h"

using namespace LoopbackClient;

namespace {

// Round trips per second over `count` requests after a warm-up; 0 when the server stopped.
double rate(int fd, int count)
{
    for (int i = 0; i < 100; ++i) {
        if (!versionRoundTrip(fd))
            return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!versionRoundTrip(fd))
            return 0;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return count / seconds;
}

// Fetches /metrics once a second, as a Prometheus server would, until `stop`; counts the
// scrapes that got the text.
void scrape(quint16 port, const std::atomic<bool>& stop, std::atomic<int>& scrapes)
{
    while (!stop) {
        const int fd = connectTo(port);
        if (fd >= 0 && sendAll(fd, "GET /metrics HTTP/1.1\r\nHost: box\r\n\r\n")) {
            QByteArray answer;
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
                answer.append(buffer, n);
            if (answer.startsWith("HTTP/1.1 200") && answer.contains("varnel_requests_total"))
                ++scrapes;
        }
        if (fd >= 0)
            ::close(fd);
        for (int i = 0; i < 10 && !stop; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
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

    const quint16 metricsPort = ServerProcess::freePort();
    ServerProcess on(QStringLiteral("[Metrics]\r\nPort=%1\r\n").arg(metricsPort));
    ServerProcess off;
    if (!on.start() || !off.start()) {
        std::fprintf(stderr, "metrics_bench: the servers did not start\n");
        return 1;
    }
    const int onFd = connectTo(on.port());
    const int offFd = connectTo(off.port());
    if (onFd < 0 || offFd < 0) {
        std::fprintf(stderr, "metrics_bench: cannot connect to both servers\n");
        return 1;
    }
    std::atomic<bool> stop{false};
    std::atomic<int> scrapes{0};
    std::thread scraper(scrape, metricsPort, std::cref(stop), std::ref(scrapes));

    // Alternating rounds, the best of each, so a busy moment of the machine hits both alike.
    double withMetrics = 0;
    double without = 0;
    for (int round = 0; round < 3; ++round) {
        withMetrics = std::max(withMetrics, rate(onFd, requests));
        without = std::max(without, rate(offFd, requests));
    }
    stop = true;
    scraper.join();
    ::close(onFd);
    ::close(offFd);
    on.stop();
    off.stop();
    if (withMetrics <= 0 || without <= 0 || scrapes == 0) {
        std::fprintf(stderr, "metrics_bench: a server stopped answering, or no scrape worked\n");
        return 1;
    }
    const double ratio = withMetrics / without;
    std::printf("VERSION round trips, %d requests, best of 3 rounds, one connection:\n", requests);
    std::printf("  metrics on (scraped %d times): %.0f/s\n", scrapes.load(), withMetrics);
    std::printf("  metrics off:                   %.0f/s\n", without);
    std::printf("  on/off: %.3f (target: at least 0.95) %s\n", ratio,
                ratio >= 0.95 ? "met" : "NOT MET");
    return 0;
}
