#include "tls/tillkey.h"

#include <algorithm>

#include <QCryptographicHash>

#include <openssl/rand.h>

namespace {

constexpr int kKeyBytes = 24;

} // namespace

QString makeTillKey()
{
    QByteArray bytes(kKeyBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), kKeyBytes) != 1)
        return {};
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

bool isTillKeyHash(const QByteArray& text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

QByteArray tillKeyHash(const QString& key)
{
    return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha256).toHex();
}
