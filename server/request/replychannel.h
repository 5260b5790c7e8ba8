#pragma once

#include <QString>

// The one way any reply leaves the server: cleans the text to printable ASCII, logs it (or
// only that a reply went out, when it carries card or PIN data) and sends it to the client
// whose request is being served.
class ReplyChannel
{
public:
    virtual ~ReplyChannel() = default;
    // On return `xml` holds the cleaned text that was sent.
    virtual void return_xml(QString& xml, bool skipDebug) = 0;
};
