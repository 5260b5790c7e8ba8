#pragma once

#include <vector>

#include <QByteArray>

// Latency figures of a set of timed operations, in milliseconds.
struct Latencies
{
    // False when the run failed before it had its times.
    bool ok = false;
    double medianMs = 0;
    double p90Ms = 0;
    double p99Ms = 0;
    double maxMs = 0;
};

// The figures of `timesMs`; not ok when there are none.
Latencies summarise(std::vector<double> timesMs);
// One row: the label, the median, the 90th and 99th percentiles and the maximum.
void printLatencies(const char* label, const Latencies& figures);
// Times `count` round trips of `request` and its `reply` on one new connection, after `warmUp`
// untimed ones. Not ok when the server stopped answering.
Latencies timeRoundTrips(quint16 port, const QByteArray& request, const QByteArray& reply,
                         int count, int warmUp = 50);
// The same for VERSION requests.
Latencies timeVersionRoundTrips(quint16 port, int count, int warmUp = 50);
