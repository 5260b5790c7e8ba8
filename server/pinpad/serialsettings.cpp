#include "pinpad/serialsettings.h"

namespace SerialSettings {

namespace {
constexpr qint32 kDefaultBaudRate = 1200;
constexpr qint32 kHighestBaudRate = 4000000;

// A whole number written with digits only, none when the text is anything else.
std::optional<qint32> digitsValue(const QString& text)
{
    if (text.isEmpty() || text.size() > 9)
        return std::nullopt;
    for (const QChar ch : text)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return std::nullopt;
    return text.toInt();
}
} // namespace

std::optional<qint32> baudRate(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return kDefaultBaudRate;
    const std::optional<qint32> value = digitsValue(trimmed);
    if (!value || *value < 1 || *value > kHighestBaudRate)
        return std::nullopt;
    return value;
}

std::optional<QSerialPort::DataBits> dataBits(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return QSerialPort::Data7;
    const std::optional<qint32> value = digitsValue(trimmed);
    if (!value || *value < 5 || *value > 8)
        return std::nullopt;
    return QSerialPort::DataBits(*value);
}

std::optional<QSerialPort::Parity> parity(const QString& text)
{
    const QString trimmed = text.trimmed().toUpper();
    if (trimmed.isEmpty())
        return QSerialPort::EvenParity;
    if (trimmed.size() != 1)
        return std::nullopt;
    switch (trimmed.at(0).toLatin1()) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'N':
        return QSerialPort::NoParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return std::nullopt;
    }
}

} // namespace SerialSettings
