#pragma once

#include <functional>
#include <optional>

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
    // The program is closing: stops at once, without calling `finished`.
    virtual void close() {}
};
