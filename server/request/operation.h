#pragma once

#include <functional>
#include <optional>
#include <utility>

#include "request/reply.h"

// One device operation under way (a swipe, a signature with its upload, a PIN entry). It
// advances on events — timers, the device's bytes, the transfer's sockets — and ends with its
// reply as a value; nothing waits in place.
class Operation
{
public:
    // The reply; nothing when nobody waits for one any more (the client went away).
    using Finished = std::function<void(std::optional<Reply>)>;

    virtual ~Operation() = default;
    // Starts the operation. `finished` runs exactly once: from the event loop, or before
    // start() returns when the operation ends at once. The owner never destroys the operation
    // inside `finished`.
    virtual void start(Finished finished) = 0;
    // Runs once the reply has gone out (or could not): leaves the device ready for the next
    // customer.
    virtual void afterReply() {}
    // Calls `finished` with `reply` unless it has run already; it is empty afterwards, so an
    // operation answers once however many of its ends arrive.
    static void finishOnce(Finished& finished, std::optional<Reply> reply)
    {
        if (const Finished once = std::exchange(finished, nullptr))
            once(std::move(reply));
    }
    // The program is closing: the operation ends at once, as when its wait fails with error 18
    // (Interrupted): its error reply, when it has one ("Error Getting Swipe: Error( 18)"),
    // goes out through `finished` before close() returns, and its device is left as a failure
    // leaves it.
    virtual void close() {}
};
