#pragma once

#include <QtGlobal>

class ActivityLog;
class EventPump;
class PadConnection;
class PadDriver;
class PadTimeout;
class PadVariables;
class ReplyChannel;

// Asks the customer to swipe a card and answers the waiting client with tracks 1 and 2. The
// wait runs in half-second steps during which other events (other clients' requests) run.
class CardSwipe
{
public:
    // Length of one waiting step.
    static constexpr int kStepMs = 500;

    // `padTimeout` is read again at every step, so a request served during the wait can
    // change it.
    CardSwipe(PadDriver& driver, PadConnection& connection, PadVariables& variables,
              ActivityLog& log, ReplyChannel& replies, EventPump& pump, PadTimeout& padTimeout);

    // Sends exactly one reply: the tracks, a time-out, not set up, or the error caught.
    void qp6100_get_swipe();

private:
    void reply(QString xml, bool skipDebug);

    PadDriver& m_driver;
    PadConnection& m_connection;
    PadVariables& m_variables;
    ActivityLog& m_log;
    ReplyChannel& m_replies;
    EventPump& m_pump;
    PadTimeout& m_padTimeout;
};
