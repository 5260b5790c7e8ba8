#pragma once

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
// The KSN with its transaction counter (the low 21 bits) advanced by one.
QByteArray nextKsn(const QByteArray& ksn);

} // namespace Dukpt
