#include "doors/listenport.h"

#include <cmath>

#include "core/failure.h"
#include "request/timernumber.h"

std::optional<quint16> parseListenPort(const QString& field, QString* reason)
{
    auto fail = [&](const QString& why) -> std::optional<quint16> {
        if (reason)
            *reason = why;
        return std::nullopt;
    };
    std::optional<double> number;
    try {
        number = readLeadingNumber(field);
    } catch (const Failure&) {
        return fail(QStringLiteral("the port is not a number from 1 to 65535"));
    }
    if (!number)
        return fail(QStringLiteral("the port is not a number"));
    const double port = std::nearbyint(*number);
    if (port < 1 || port > 65535)
        return fail(QStringLiteral("the port is not a number from 1 to 65535"));
    return static_cast<quint16>(port);
}

bool isLeftClosed(const QString& setting)
{
    const QString text = setting.trimmed();
    return text.isEmpty() || text == QLatin1String("0");
}

std::optional<QHostAddress> parseBindAddress(const QString& setting, QString* reason)
{
    const QString text = setting.trimmed();
    if (text.isEmpty())
        return QHostAddress(QHostAddress::Any);
    QHostAddress address;
    if (!address.setAddress(text)) {
        if (reason)
            *reason = QStringLiteral("the bind address [") + text +
                      QStringLiteral("] is not an IP address");
        return std::nullopt;
    }
    return address;
}
