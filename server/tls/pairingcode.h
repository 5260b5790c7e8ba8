#pragma once

#include <QByteArray>
#include <QString>

// The short code that pairs a till: typed on the till once, so it holds no look-alikes
// (no 0 or O, no 1, I or L).
namespace PairingCode {

constexpr int kLength = 8;
// How long a code may be used after it was made.
constexpr qint64 kValidSeconds = 10 * 60;

// A new code from OpenSSL's generator; empty when the generator fails.
QString make();
// A code as the till typed it, as it is compared: upper case, without blanks and dashes.
QString normalised(const QString& typed);
// What the pairings file keeps of a code: the SHA-256 of its normalised form, in hexadecimal.
QByteArray hash(const QString& typed);

} // namespace PairingCode
