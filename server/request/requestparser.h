#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "request/requestvalues.h"

// What parsing one request's text produced. Parsing is a pure function of the text: the
// caller writes the log lines, applies the TIMER value and dispatches.
struct ParsedRequest
{
    enum class Outcome {
        NoSemicolon, // nothing parsed, nothing to dispatch
        Parsed,      // values complete, ready for dispatch
        Failed       // a piece failed; `failureCode` says why, nothing to dispatch
    };

    Outcome outcome = Outcome::Parsed;
    RequestValues values;
    // The log lines of the pieces read, in order (the parse summary line last when parsed).
    QStringList logLines;
    // The last TIMER value read before the end or the failing piece.
    std::optional<qint16> padTimeout;
    int failureCode = 0;
};

// Most pieces of one request that get a log line each; the rest take effect all the same and
// are counted in one line ("Socket: DataArrival Parse pieces not logged=[N]"), so that a
// request of many tiny pieces cannot fill the disk.
constexpr int kMaxPieceLogLines = 64;

// Parses one request of `TAG=value;` pieces. `signaturesFolder` is the folder that UNIQU
// names its file in, without a trailing separator.
ParsedRequest parseRequest(const QString& text, const QString& signaturesFolder);

// A card number as the log may show it: every character but the last four as "*".
QString maskCardNumber(const QString& number);
