#pragma once

#include <QString>

// One reply to a client, as an operation returns it: the XML text, and whether it carries card
// or PIN data, so that the log shows only that it went out.
struct Reply
{
    QString xml;
    bool skipDebug = false;

    friend bool operator==(const Reply&, const Reply&) = default;
};
