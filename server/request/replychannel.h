#pragma once

#include <QString>

#include "core/eventpump.h"

// The one way any reply leaves the server: cleans the text to printable ASCII, logs it (or
// only that a reply went out, when it carries card or PIN data) and sends it to the client
// whose request is being served. It also tells who that client is.
class ReplyChannel
{
public:
    virtual ~ReplyChannel() = default;
    // On return `xml` holds the cleaned text that was sent.
    virtual void return_xml(QString& xml, bool skipDebug) = 0;
    // The address of the client whose request is being served, for the log.
    virtual QString requesterAddress() const = 0;
    // Holds once the client whose request is being served has gone away. Taken when an
    // operation starts, it keeps asking about that client while other requests run nested
    // inside the operation's waits.
    virtual StopWhen requesterGone() const = 0;
};
