#include "pinpad/serialportname.h"

namespace SerialPortName {

namespace {
// Port numbers as the settings window accepts them.
constexpr int kHighestPort = 255;
} // namespace

int comNumber(const QString& commPort)
{
    QString digits = commPort.trimmed();
    if (digits.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        digits = digits.mid(3);
    if (digits.isEmpty() || digits.size() > 3)
        return 0;
    for (const QChar ch : digits)
        if (ch < QLatin1Char('0') || ch > QLatin1Char('9'))
            return 0;
    const int number = digits.toInt();
    return number <= kHighestPort ? number : 0;
}

QString devicePath(const QString& commPort, const QMap<int, QString>& serialPorts)
{
    if (commPort.startsWith(QLatin1Char('/')))
        return commPort;
    const int number = comNumber(commPort);
    if (number == 0)
        return {};
    const QString mapped = serialPorts.value(number);
    return mapped.isEmpty() ? QStringLiteral("/dev/ttyS") + QString::number(number - 1) : mapped;
}

QString describe(const QString& commPort, const QString& devicePath)
{
    const int number = comNumber(commPort);
    if (number == 0)
        return devicePath;
    return QStringLiteral("COM") + QString::number(number) + QStringLiteral(" (") + devicePath +
           QLatin1Char(')');
}

} // namespace SerialPortName
