#pragma once

#include <optional>

#include <QByteArray>

// PIN blocks as a PIN pad with derived unique keys per transaction makes them: the ISO
// format 0 block of the PIN and the account, encrypted with triple DES under the PIN key that
// the base derivation key and the key serial number give (ANSI X9.24-1).
namespace Dukpt {

constexpr int kKsnBytes = 10;
constexpr int kKeyBytes = 16;

// The clear ISO format 0 block: PIN field XOR account field; empty for a PIN that is not 4
// to 12 digits or an account with fewer than 2 digits.
QByteArray isoFormat0(const QByteArray& pinDigits, const QByteArray& accountDigits);
// The PIN encryption key for one transaction, from the 16-byte base key and the 10-byte KSN.
QByteArray pinKey(const QByteArray& baseKey, const QByteArray& ksn);
// The encrypted 8-byte PIN block; empty when the inputs cannot make one.
QByteArray encryptedPinBlock(const QByteArray& baseKey, const QByteArray& ksn,
                             const QByteArray& pinDigits, const QByteArray& accountDigits);
// A transaction counter has at most this many 1-bits: each future key is derived from at most
// ten of them.
constexpr int kMaxCounterOnes = 10;

// The transaction counter: the KSN's low 21 bits.
quint32 counterOf(const QByteArray& ksn);
// Whether a counter may number a transaction: not 0, at most ten 1-bits.
bool isTransactionCounter(quint32 counter);
// The KSN of the next transaction: its counter advanced to the next value with at most ten
// 1-bits. None after the last one (ten 1-bits at the top): the pad has no more keys.
std::optional<QByteArray> nextKsn(const QByteArray& ksn);

} // namespace Dukpt
