#include "tls/pairingcode.h"

#include <openssl/rand.h>

#include "tls/tillkey.h"

namespace {

// 23 letters and 8 digits; nothing a cashier could read as another.
constexpr char kAlphabet[] = "ABCDEFGHJKMNPQRSTUVWXYZ23456789";
constexpr int kAlphabetSize = int(sizeof(kAlphabet)) - 1;
// Random bytes from this up are thrown away, so that every character is as likely.
constexpr int kFairBytes = 256 - 256 % kAlphabetSize;

} // namespace

namespace PairingCode {

QString make()
{
    QString code;
    while (code.size() < kLength) {
        unsigned char bytes[16];
        if (RAND_bytes(bytes, int(sizeof bytes)) != 1)
            return {};
        for (const unsigned char byte : bytes)
            if (byte < kFairBytes && code.size() < kLength)
                code += QLatin1Char(kAlphabet[byte % kAlphabetSize]);
    }
    return code;
}

QString normalised(const QString& typed)
{
    QString code;
    for (const QChar c : typed)
        if (!c.isSpace() && c != QLatin1Char('-'))
            code += c.toUpper();
    return code;
}

QByteArray hash(const QString& typed)
{
    return tillKeyHash(normalised(typed));
}

} // namespace PairingCode
