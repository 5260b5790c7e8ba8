#pragma once

class ActivityLog;
class PadConnection;
class PadDriver;
class PadTimeout;
class PadVariables;
class Scheduler;

// What every operation on the signature pad works with: the driver, the connection's form
// helpers, the variables, the log, where it is woken, and the shared waiting limit (read
// afresh at every step, so a TIMER served during a wait counts at once).
struct PadContext
{
    PadDriver& driver;
    PadConnection& connection;
    PadVariables& variables;
    ActivityLog& log;
    Scheduler& scheduler;
    PadTimeout& padTimeout;
};
