// Measures how long VERSION requests from one client take while another client's card swipe
// waits on the simulated pad, against the same requests with no swipe waiting, and how long a
// second swipe takes to be refused meanwhile. The swipe waits in half-second steps; requests
// served during a step should not wait for its end.
//
//   build/bin/swipewait_bench [--requests N]

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QThread>

#include "latencies.h"
#include "loopbackclient.h"
#include "serverprocess.h"

using namespace LoopbackClient;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int requests = 1000;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--requests"));
    if (at > 0 && at + 1 < args.size())
        requests = std::clamp(args.at(at + 1).toInt(), 10, 100000);
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());

    ServerProcess server({}, {QStringLiteral("--simulate")});
    if (!server.start()) {
        std::fprintf(stderr, "swipewait_bench: the server did not start\n");
        return 1;
    }

    std::printf("VERSION round trips on a second connection, %d requests\n", requests);
    const Latencies idle = timeVersionRoundTrips(server.port(), requests);
    printLatencies("no swipe waiting:", idle);

    // A swipe with a one-minute limit that nobody answers.
    const int swipeFd = connectTo(server.port());
    if (swipeFd < 0 || !sendAll(swipeFd, "TRANS=QP6100;ACTION=1;TIMER=60;") ||
        !server.waitForLogEntry(QStringLiteral("qp6100_get_swipe: timeout=[60]"))) {
        std::fprintf(stderr, "swipewait_bench: the swipe did not start\n");
        return 1;
    }
    QThread::msleep(100);
    const Latencies waiting = timeVersionRoundTrips(server.port(), requests);
    printLatencies("while a swipe waits:", waiting);
    // Another till's swipes are refused at once, without a wait of their own.
    std::printf("refused swipe requests (Pad Busy) on a second connection, %d requests\n",
                requests);
    const Latencies refused = timeRoundTrips(server.port(), "TRANS=QP6100;ACTION=1;",
                                             "<QP6100><ERROR>Pad Busy</ERROR></QP6100>", requests);
    printLatencies("while a swipe waits:", refused);
    const bool stillWaiting =
        !server.logEntries().contains(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout"));

    // A shorter limit from any client ends the wait at its next step.
    const int endFd = connectTo(server.port());
    sendAll(endFd, "TIMER=1;TRANS=VERSION;");
    char buffer[256];
    const ssize_t n = ::recv(swipeFd, buffer, sizeof buffer, 0);
    ::close(endFd);
    ::close(swipeFd);
    server.stop();

    std::printf("  the swipe was still waiting after the run: %s; its reply: %s\n",
                stillWaiting ? "yes" : "no",
                n > 0 ? QByteArray(buffer, int(n)).constData() : "(none)");
    std::printf("  target: median under 1 ms while a swipe waits: %s\n",
                waiting.ok && waiting.medianMs < 1.0 ? "met" : "missed");
    std::printf("  target: refused swipes, median under 1 ms: %s\n",
                refused.ok && refused.medianMs < 1.0 ? "met" : "missed");
    return waiting.ok && idle.ok && refused.ok ? 0 : 1;
}
