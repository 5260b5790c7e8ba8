#pragma once

#include <functional>

class QCoreApplication;

// SIGINT and SIGTERM end the program through its normal shut-down, without asking: the signal
// handler only wakes the event loop, which then runs `endProgram` (it asks the loop to end; the
// shut-down runs once the loop has returned).
void routeTerminationSignals(QCoreApplication& app, std::function<void()> endProgram);
