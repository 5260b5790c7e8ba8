#pragma once

#include <optional>

// This process's figures as the kernel keeps them (Linux /proc).
struct ProcessFigures
{
    // Unix time at which the process started.
    double startTimeSeconds = 0;
    double residentMemoryBytes = 0;
    // User and system time used.
    double cpuSeconds = 0;

    // Nothing when /proc cannot be read.
    static std::optional<ProcessFigures> read();
};
