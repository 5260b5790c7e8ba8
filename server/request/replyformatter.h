#pragma once

#include <optional>

#include <QString>

#include "request/outcome.h"
#include "request/reply.h"

// The one place that writes the protocol's reply text: the reply an outcome is answered with,
// marked skipDebug when it carries card or PIN data; nothing for a client that has gone.
std::optional<Reply> replyFor(const Outcome& outcome);

// The reply text without the characters outside printable ASCII (codes 32 to 126).
// Throws Failure(6) for a text longer than 32,767 characters.
QString strRemoveNonPrintableChars(const QString& text);
