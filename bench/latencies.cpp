#include "latencies.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "loopbackclient.h"

Latencies summarise(std::vector<double> timesMs)
{
    Latencies figures;
    if (timesMs.empty())
        return figures;
    std::sort(timesMs.begin(), timesMs.end());
    const auto at = [&timesMs](std::size_t percent) {
        return timesMs[std::min(timesMs.size() - 1, timesMs.size() * percent / 100)];
    };
    figures.ok = true;
    figures.medianMs = at(50);
    figures.p90Ms = at(90);
    figures.p99Ms = at(99);
    figures.maxMs = timesMs.back();
    return figures;
}

void printLatencies(const char* label, const Latencies& figures)
{
    if (!figures.ok) {
        std::printf("  %-34s failed: no complete reply\n", label);
        return;
    }
    std::printf("  %-34s median %8.3f ms   p90 %8.3f ms   p99 %8.3f ms   max %8.3f ms\n", label,
                figures.medianMs, figures.p90Ms, figures.p99Ms, figures.maxMs);
}

Latencies timeVersionRoundTrips(quint16 port, int count, int warmUp)
{
    return timeRoundTrips(port, LoopbackClient::kVersionRequest, LoopbackClient::kVersionReply,
                          count, warmUp);
}

Latencies timeRoundTrips(quint16 port, const QByteArray& request, const QByteArray& reply,
                         int count, int warmUp)
{
    using SteadyClock = std::chrono::steady_clock;
    const int fd = LoopbackClient::connectTo(port);
    if (fd < 0)
        return {};
    std::vector<double> times;
    times.reserve(count);
    for (int i = 0; i < warmUp + count; ++i) {
        const auto start = SteadyClock::now();
        if (!LoopbackClient::roundTrip(fd, request, reply)) {
            ::close(fd);
            return {};
        }
        if (i >= warmUp)
            times.push_back(
                std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    ::close(fd);
    return summarise(std::move(times));
}
