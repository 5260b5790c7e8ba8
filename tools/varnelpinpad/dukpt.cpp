#include "dukpt.h"

#include <bit>
#include <memory>

#include <openssl/evp.h>

namespace Dukpt {

namespace {

constexpr int kBlockBytes = 8;
constexpr quint32 kCounterMask = 0x1FFFFF;
const QByteArray kKeyVariantMask = QByteArray::fromHex("C0C0C0C000000000C0C0C0C000000000");
const QByteArray kPinVariant = QByteArray::fromHex("00000000000000FF00000000000000FF");

QByteArray xorBytes(const QByteArray& a, const QByteArray& b)
{
    QByteArray result = a;
    for (qsizetype i = 0; i < result.size() && i < b.size(); ++i)
        result[i] = char(result.at(i) ^ b.at(i));
    return result;
}

// One block under a double-length triple DES key; a key whose halves are equal is single DES.
QByteArray tdesEncrypt(const QByteArray& key, const QByteArray& block)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(),
                                                                            EVP_CIPHER_CTX_free);
    QByteArray out(kBlockBytes * 2, '\0');
    int written = 0;
    int finalWritten = 0;
    const auto* keyBytes = reinterpret_cast<const unsigned char*>(key.constData());
    auto* outBytes = reinterpret_cast<unsigned char*>(out.data());
    if (!context ||
        EVP_EncryptInit_ex(context.get(), EVP_des_ede_ecb(), nullptr, keyBytes, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(context.get(), 0) != 1 ||
        EVP_EncryptUpdate(context.get(), outBytes, &written,
                          reinterpret_cast<const unsigned char*>(block.constData()),
                          kBlockBytes) != 1 ||
        EVP_EncryptFinal_ex(context.get(), outBytes + written, &finalWritten) != 1)
        return {};
    out.truncate(written + finalWritten);
    return out;
}

QByteArray desEncrypt(const QByteArray& key, const QByteArray& block)
{
    return tdesEncrypt(key + key, block);
}

// The non-reversible key generation step: a new key from the current key and the KSN
// register.
QByteArray nextKey(const QByteArray& key, const QByteArray& ksnRegister)
{
    auto half = [&ksnRegister](const QByteArray& fullKey) {
        const QByteArray left = fullKey.left(kBlockBytes);
        const QByteArray right = fullKey.mid(kBlockBytes);
        return xorBytes(desEncrypt(left, xorBytes(ksnRegister, right)), right);
    };
    return half(xorBytes(key, kKeyVariantMask)) + half(key);
}

QByteArray withCounter(QByteArray ksn, quint32 counter)
{
    ksn[7] = char((quint8(ksn.at(7)) & 0xE0) | ((counter >> 16) & 0x1F));
    ksn[8] = char((counter >> 8) & 0xFF);
    ksn[9] = char(counter & 0xFF);
    return ksn;
}

QByteArray initialKey(const QByteArray& baseKey, const QByteArray& ksn)
{
    const QByteArray serial = withCounter(ksn, 0).left(kBlockBytes);
    return tdesEncrypt(baseKey, serial) + tdesEncrypt(xorBytes(baseKey, kKeyVariantMask), serial);
}

bool allDigits(const QByteArray& text)
{
    for (const char ch : text)
        if (ch < '0' || ch > '9')
            return false;
    return true;
}

} // namespace

quint32 counterOf(const QByteArray& ksn)
{
    return ((quint32(quint8(ksn.at(7))) << 16) | (quint32(quint8(ksn.at(8))) << 8) |
            quint32(quint8(ksn.at(9)))) &
           kCounterMask;
}

bool isTransactionCounter(quint32 counter)
{
    return counter != 0 && counter <= kCounterMask && std::popcount(counter) <= kMaxCounterOnes;
}

QByteArray isoFormat0(const QByteArray& pinDigits, const QByteArray& accountDigits)
{
    if (pinDigits.size() < 4 || pinDigits.size() > 12 || !allDigits(pinDigits) ||
        accountDigits.size() < 2 || !allDigits(accountDigits))
        return {};
    QByteArray pinField = "0" + QByteArray::number(pinDigits.size(), 16).toUpper() + pinDigits;
    pinField += QByteArray(16 - pinField.size(), 'F');
    // The twelve digits before the check digit.
    const QByteArray account = accountDigits.left(accountDigits.size() - 1).right(12);
    const QByteArray accountField = "0000" + QByteArray(12 - account.size(), '0') + account;
    return xorBytes(QByteArray::fromHex(pinField), QByteArray::fromHex(accountField));
}

QByteArray pinKey(const QByteArray& baseKey, const QByteArray& ksn)
{
    if (baseKey.size() != kKeyBytes || ksn.size() != kKsnBytes)
        return {};
    QByteArray key = initialKey(baseKey, ksn);
    // The register starts as the KSN's right eight bytes without the counter; each counter
    // bit, from the highest, is set in it and gives the next key.
    const quint32 counter = counterOf(ksn);
    QByteArray ksnRegister = withCounter(ksn, 0).right(kBlockBytes);
    for (quint32 bit = 1u << 20; bit != 0; bit >>= 1) {
        if ((counter & bit) == 0)
            continue;
        ksnRegister[5] = char(quint8(ksnRegister.at(5)) | ((bit >> 16) & 0x1F));
        ksnRegister[6] = char(quint8(ksnRegister.at(6)) | ((bit >> 8) & 0xFF));
        ksnRegister[7] = char(quint8(ksnRegister.at(7)) | (bit & 0xFF));
        key = nextKey(key, ksnRegister);
    }
    return xorBytes(key, kPinVariant);
}

QByteArray encryptedPinBlock(const QByteArray& baseKey, const QByteArray& ksn,
                             const QByteArray& pinDigits, const QByteArray& accountDigits)
{
    const QByteArray clear = isoFormat0(pinDigits, accountDigits);
    const QByteArray key = pinKey(baseKey, ksn);
    if (clear.isEmpty() || key.isEmpty())
        return {};
    return tdesEncrypt(key, clear);
}

std::optional<QByteArray> nextKsn(const QByteArray& ksn)
{
    quint32 counter = counterOf(ksn) + 1;
    // Past a counter with too many 1-bits, adding its lowest 1-bit carries them away: the
    // values in between have even more.
    while (std::popcount(counter) > kMaxCounterOnes)
        counter += counter & (~counter + 1);
    if (counter > kCounterMask)
        return std::nullopt;
    return withCounter(ksn, counter);
}

} // namespace Dukpt
