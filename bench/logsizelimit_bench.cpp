// Measures what the activity log's size cap costs: VERSION round trips per second on 16
// connections at once against the real server with a cap that every run passes
// (MaxLogMegabytes=8 unless --cap says otherwise) and with one no run reaches
// (MaxLogMegabytes=100000). Each run starts a fresh server whose log already holds just under the
// smaller cap, so that the capped server purges within the run; the two kinds take turns.
// Target: the capped rate is at least 0.95 of the other.
//
//   build/bin/logsizelimit_bench [--requests N] [--cap MEGABYTES]

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QFile>

#include "loopbackclient.h"
#include "serverprocess.h"

using namespace LoopbackClient;

namespace {

constexpr int kConnections = 16;
constexpr int kRounds = 10;
constexpr int kUncapped = 100000;

// Round trips per second over the connections, `perConnection` each; 0 when one failed.
double measureRate(const std::vector<int>& fds, int perConnection)
{
    std::atomic<int> failures = 0;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> threads;
    for (int fd : fds)
        threads.emplace_back([fd, perConnection, &failures] {
            for (int i = 0; i < perConnection; ++i)
                if (!versionRoundTrip(fd)) {
                    ++failures;
                    return;
                }
        });
    for (auto& thread : threads)
        thread.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return failures > 0 ? 0 : double(fds.size()) * perConnection / seconds;
}

qint64 fileSize(const QString& path)
{
    struct stat info = {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? qint64(info.st_size) : 0;
}

struct Run
{
    double rate = 0;
    // The growth of the log over the run (less what a purge dropped) and its size after it.
    qint64 written = 0;
    qint64 left = 0;
};

// One run against a fresh server with the cap `megabytes` and a log of `prefill` bytes.
Run runOnce(int megabytes, const QByteArray& prefill, int perConnection)
{
    ServerProcess server(QStringLiteral("MaxLogMegabytes=%1\r\n").arg(megabytes));
    const QString log = server.home() + QStringLiteral("/varnelpayment.log");
    QFile file(log);
    if (!file.open(QIODevice::WriteOnly) || file.write(prefill) != prefill.size())
        return {};
    file.close();
    if (!server.start())
        return {};
    std::vector<int> fds;
    for (int i = 0; i < kConnections; ++i)
        fds.push_back(connectTo(server.port()));
    Run run;
    if (std::count(fds.begin(), fds.end(), -1) == 0) {
        // A few round trips first, so that start-up work is not measured.
        for (int fd : fds)
            versionRoundTrip(fd);
        const qint64 before = fileSize(log);
        run.rate = measureRate(fds, perConnection);
        run.written = fileSize(log) - before;
        run.left = fileSize(log);
    }
    for (int fd : fds)
        if (fd >= 0)
            ::close(fd);
    server.stop();
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int requests = 320'000;
    int cap = 8;
    for (qsizetype i = 1; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--requests"))
            requests = args.at(i + 1).toInt();
        else if (args.at(i) == QLatin1String("--cap"))
            cap = args.at(i + 1).toInt();
    }
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    // Old lines in the log's own form, up to just under the cap.
    const QByteArray line = "12/7/2026 9:00:00 AM: Socket: DataArrival Parse tag=[TRANS] "
                            "value=[VERSION]\r\n";
    QByteArray prefill;
    prefill.reserve(qsizetype(cap) * 1024 * 1024);
    while (prefill.size() + line.size() < qsizetype(cap) * 1024 * 1024 - 64 * 1024)
        prefill += line;

    const int perConnection = requests / kRounds / kConnections;
    std::printf("VERSION round trips on %d connections, best of %d runs of %d each against fresh "
                "servers whose logs start at %.1f MB; target: capped at least 0.95 of "
                "uncapped\n",
                kConnections, kRounds, perConnection * kConnections,
                double(prefill.size()) / 1048576.0);
    // Runs taken in turn, the best of each kept: a burst of other load on the machine then
    // slows one run of each, not all the runs of one kind. Which kind goes first changes from
    // round to round.
    Run capped;
    Run uncapped;
    for (int round = 0; round < kRounds; ++round) {
        for (const bool withCap : {round % 2 == 0, round % 2 != 0}) {
            const Run run = runOnce(withCap ? cap : kUncapped, prefill, perConnection);
            if (run.rate == 0) {
                std::fprintf(stderr, "logsizelimit_bench: a server did not start or answer\n");
                return 1;
            }
            Run& best = withCap ? capped : uncapped;
            if (run.rate > best.rate)
                best = run;
        }
    }
    std::printf("  MaxLogMegabytes=%-6d %8.0f/s   log left at %.1f MB\n", cap, capped.rate,
                double(capped.left) / 1048576.0);
    std::printf("  MaxLogMegabytes=%-6d %8.0f/s   log left at %.1f MB: a run writes %.1f MB\n",
                kUncapped, uncapped.rate, double(uncapped.left) / 1048576.0,
                double(uncapped.written) / 1048576.0);
    std::printf("  capped/uncapped %.3f\n", capped.rate / uncapped.rate);
    return 0;
}
