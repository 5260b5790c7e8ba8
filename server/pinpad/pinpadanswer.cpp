#include "pinpad/pinpadanswer.h"

namespace {

const QByteArray kPrefix("73.");
const QByteArray kDone("00000");
constexpr int kPinBlockDigits = 16;
constexpr int kShortestKsn = 10;
constexpr int kLongestKsn = 20;

bool isHex(const QByteArray& digits)
{
    for (const char ch : digits)
        if (!((ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f')))
            return false;
    return true;
}

} // namespace

bool PinPadAnswer::isAnswer(const QByteArray& payload)
{
    return payload.startsWith(kPrefix);
}

std::optional<PinPadAnswer> PinPadAnswer::read(const QByteArray& payload)
{
    if (!isAnswer(payload))
        return std::nullopt;
    const QByteArray status = payload.mid(kPrefix.size(), kDone.size());
    const QByteArray digits = payload.mid(kPrefix.size() + kDone.size());
    const qsizetype ksnDigits = digits.size() - kPinBlockDigits;
    if (status != kDone || ksnDigits < kShortestKsn || ksnDigits > kLongestKsn || !isHex(digits))
        return std::nullopt;
    return PinPadAnswer{QString::fromLatin1(digits.right(kPinBlockDigits)).toUpper(),
                        QString::fromLatin1(digits.left(ksnDigits)).toUpper()};
}
