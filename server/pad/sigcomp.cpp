#include "pad/sigcomp.h"

#include <array>

namespace Sigcomp {

namespace {

const QString kMark = QStringLiteral("S1");
constexpr char16_t kStrokeStart = u'.';
constexpr int kDigitsPerPoint = 3;
constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each base-64 digit by character code, -1 for characters outside the alphabet.
constexpr std::array<int, 128> digitValues()
{
    std::array<int, 128> values{};
    for (int& value : values)
        value = -1;
    for (int i = 0; i < 64; ++i)
        values[size_t(kDigits[i])] = i;
    return values;
}
constexpr std::array<int, 128> kDigitValues = digitValues();

int digitValue(QChar c)
{
    const char16_t unit = c.unicode();
    return unit < kDigitValues.size() ? kDigitValues[unit] : -1;
}

} // namespace

QString encode(const PenStrokes& strokes)
{
    QString text = kMark;
    for (const PenStroke& stroke : strokes) {
        if (stroke.empty())
            continue;
        text.reserve(text.size() + 1 + int(stroke.size()) * kDigitsPerPoint);
        text.append(QChar(kStrokeStart));
        for (const PenPoint& point : stroke) {
            const int value = point.y * SigningArea::kWidth + point.x;
            text.append(QLatin1Char(kDigits[(value >> 12) & 63]));
            text.append(QLatin1Char(kDigits[(value >> 6) & 63]));
            text.append(QLatin1Char(kDigits[value & 63]));
        }
    }
    return text;
}

std::optional<PenStrokes> decode(const QString& text)
{
    if (!text.startsWith(kMark) || text.size() == kMark.size() ||
        text.at(kMark.size()) != kStrokeStart)
        return std::nullopt;
    PenStrokes strokes;
    qsizetype pos = kMark.size();
    while (pos < text.size()) {
        // Here text[pos] is a stroke's start mark; its points run to the next mark or the end.
        ++pos;
        qsizetype end = text.indexOf(QChar(kStrokeStart), pos);
        if (end < 0)
            end = text.size();
        const qsizetype digits = end - pos;
        if (digits == 0 || digits % kDigitsPerPoint != 0)
            return std::nullopt;
        PenStroke stroke;
        stroke.reserve(size_t(digits / kDigitsPerPoint));
        for (; pos < end; pos += kDigitsPerPoint) {
            int value = 0;
            for (int i = 0; i < kDigitsPerPoint; ++i) {
                const int digit = digitValue(text.at(pos + i));
                if (digit < 0)
                    return std::nullopt;
                value = value * 64 + digit;
            }
            const PenPoint point{value % SigningArea::kWidth, value / SigningArea::kWidth};
            if (!SigningArea::contains(point))
                return std::nullopt;
            stroke.push_back(point);
        }
        strokes.push_back(std::move(stroke));
    }
    return strokes;
}

} // namespace Sigcomp
