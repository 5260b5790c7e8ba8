#pragma once

#include <optional>

#include <QByteArray>
#include <QString>

// The 1000SE's answer to a PIN request: "73." + a five-digit status + the KSN without its
// leading F's + the 16 hex digits of the PIN block.
struct PinPadAnswer
{
    // The PIN block and the KSN as the pad sent them, in capitals.
    QString pinBlock;
    QString reportedKsn;

    // Whether a payload from the pad is an answer to a PIN request at all.
    static bool isAnswer(const QByteArray& payload);
    // The answer's parts; none unless the status is "00000", the KSN 10 to 20 hex digits and
    // the PIN block 16.
    static std::optional<PinPadAnswer> read(const QByteArray& payload);
};
