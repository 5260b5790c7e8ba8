#include "request/timernumber.h"

#include <cmath>
#include <limits>

#include "core/failure.h"

namespace {

bool isSkipped(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t') || c == QLatin1Char('\n');
}

// The text without the characters the reading skips.
QString compact(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text)
        if (!isSkipped(c))
            out.append(c);
    return out;
}

int digitValue(QChar c, int base)
{
    const char16_t u = c.unicode();
    int v = -1;
    if (u >= u'0' && u <= u'9')
        v = u - u'0';
    else if (u >= u'a' && u <= u'f')
        v = u - u'a' + 10;
    else if (u >= u'A' && u <= u'F')
        v = u - u'A' + 10;
    return v < base ? v : -1;
}

// "&H1F" / "&O17": an integer literal of up to 32 bits. Literals that fit 16 bits are read as
// 16-bit two's complement ("&HFFFF" is -1), longer ones as 32-bit.
std::optional<double> readRadixLiteral(const QString& s, int base)
{
    quint64 value = 0;
    int i = 2;
    for (; i < s.size(); ++i) {
        const int d = digitValue(s.at(i), base);
        if (d < 0)
            break;
        value = value * base + d;
        if (value > 0xFFFFFFFFull)
            throw Failure(FailureCode::Overflow);
    }
    if (i == 2)
        return 0.0;
    if (value <= 0xFFFF)
        return static_cast<double>(static_cast<qint16>(static_cast<quint16>(value)));
    return static_cast<double>(static_cast<qint32>(static_cast<quint32>(value)));
}

} // namespace

std::optional<double> readLeadingNumber(const QString& text)
{
    const QString s = compact(text);
    if (s.size() >= 2 && s.at(0) == QLatin1Char('&')) {
        const QChar kind = s.at(1).toUpper();
        if (kind == QLatin1Char('H'))
            return readRadixLiteral(s, 16);
        if (kind == QLatin1Char('O'))
            return readRadixLiteral(s, 8);
        return std::nullopt;
    }

    QByteArray number;
    int i = 0;
    if (i < s.size() && (s.at(i) == QLatin1Char('+') || s.at(i) == QLatin1Char('-')))
        number.append(static_cast<char>(s.at(i++).unicode()));
    int mantissaDigits = 0;
    auto takeDigits = [&] {
        int n = 0;
        while (i < s.size() && s.at(i).isDigit() && s.at(i).unicode() < 128) {
            number.append(static_cast<char>(s.at(i++).unicode()));
            ++n;
        }
        return n;
    };
    mantissaDigits += takeDigits();
    if (i < s.size() && s.at(i) == QLatin1Char('.')) {
        number.append('.');
        ++i;
        mantissaDigits += takeDigits();
    }
    if (mantissaDigits == 0)
        return std::nullopt;

    // An exponent counts only when digits follow its letter and optional sign.
    if (i < s.size() &&
        (s.at(i).toUpper() == QLatin1Char('E') || s.at(i).toUpper() == QLatin1Char('D'))) {
        int j = i + 1;
        QByteArray exponent("e");
        if (j < s.size() && (s.at(j) == QLatin1Char('+') || s.at(j) == QLatin1Char('-')))
            exponent.append(static_cast<char>(s.at(j++).unicode()));
        const int digitsStart = j;
        while (j < s.size() && s.at(j).isDigit() && s.at(j).unicode() < 128)
            exponent.append(static_cast<char>(s.at(j++).unicode()));
        if (j > digitsStart)
            number.append(exponent);
    }

    const double value = std::strtod(number.constData(), nullptr);
    if (!std::isfinite(value))
        throw Failure(FailureCode::Overflow);
    return value;
}

qint16 roundToInt16(double number)
{
    const double rounded = std::nearbyint(number); // the default rounding mode: half to even
    if (!(rounded >= std::numeric_limits<qint16>::min() &&
          rounded <= std::numeric_limits<qint16>::max()))
        throw Failure(FailureCode::Overflow);
    return static_cast<qint16>(rounded);
}

qint16 timerSeconds(const QString& value)
{
    const qint16 seconds = roundToInt16(readLeadingNumber(value).value_or(0.0));
    return seconds < 1 ? qint16(60) : seconds;
}
