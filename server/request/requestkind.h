#pragma once

#include "request/requestvalues.h"

// What a request asks for, worked out once from its TRANS and ACTION values (both case
// sensitive); the dispatcher's table says what each kind holds, waits for and starts.
enum class RequestKind {
    Swipe,      // TRANS=QP6100, ACTION=1
    Signature,  // TRANS=QP6100, ACTION=2
    PadCommand, // TRANS=QP6100, any other ACTION: clears the pad's variables
    PinEntry,   // TRANS=1000SE, ACTION=3
    PinCommand, // TRANS=1000SE, any other ACTION: logged, nothing else
    Abort,
    Version,
    Status,
    Pair,    // TRANS=PAIR: a waiting till trades its code for its key
    Unknown, // no TRANS, or one the server does not know
};

RequestKind classify(const RequestValues& request);
