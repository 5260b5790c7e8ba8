#pragma once

#include <vector>

#include <QtGlobal>

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
// Times `count` VERSION round trips on one new connection, after `warmUp` untimed ones. Not
// ok when the server stopped answering.
Latencies timeVersionRoundTrips(quint16 port, int count, int warmUp = 50);
