#pragma once

#include <QByteArray>
#include <QString>

// A new till's key: 192 random bits from OpenSSL's generator, in URL-safe base64 without
// padding (32 characters that need no quoting in a request). Empty when the generator fails.
QString makeTillKey();

// What the tills file keeps of a key: its SHA-256, in hexadecimal. The key's own randomness
// makes a salt or a slow hash unnecessary.
QByteArray tillKeyHash(const QString& key);
// Whether `text` has the form of such a hash.
bool isTillKeyHash(const QByteArray& text);
