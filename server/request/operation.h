#pragma once

#include <functional>
#include <utility>

#include "request/outcome.h"

// One device operation under way (a swipe, a signature with its upload, a PIN entry). It
// advances on events — timers, the device's bytes, the transfer's sockets — and ends with its
// outcome as a value; nothing waits in place.
class Operation
{
public:
    using Finished = std::function<void(Outcome)>;

    virtual ~Operation() = default;
    // Starts the operation. `finished` runs exactly once: from the event loop, or before
    // start() returns when the operation ends at once. The owner never destroys the operation
    // inside `finished`.
    virtual void start(Finished finished) = 0;
    // The client that asked has gone: the operation ends at once with outcome::ClientGone,
    // leaving its device ready for the next customer.
    virtual void clientGone() = 0;
    // Runs once the reply has gone out (or could not): leaves the device ready for the next
    // customer.
    virtual void afterReply() {}
    // Calls `finished` with `outcome` unless it has run already; it is empty afterwards, so an
    // operation answers once however many of its ends arrive.
    static void finishOnce(Finished& finished, Outcome outcome)
    {
        if (const Finished once = std::exchange(finished, nullptr))
            once(std::move(outcome));
    }
    // The program is closing: the operation ends at once, as when its wait fails with error 18
    // (Interrupted): its error reply, when it has one ("Error Getting Swipe: Error( 18)"),
    // goes out through `finished` before close() returns, and its device is left as a failure
    // leaves it.
    virtual void close() {}
};
