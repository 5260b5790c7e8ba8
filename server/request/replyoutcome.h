#pragma once

#include <optional>

#include <QString>

#include "core/telemetry.h"

// Which device a reply speaks for and how its operation ended.
struct ReplyKind
{
    DeviceId device;
    ReplyOutcome outcome;

    friend bool operator==(const ReplyKind&, const ReplyKind&) = default;
};

// Reads a reply's text: its root element names the device, its first element the ending.
// Nothing for the replies of the service itself (VERSION, STATUS).
std::optional<ReplyKind> replyKind(const QString& xml);
