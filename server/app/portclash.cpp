#include "app/portclash.h"

#include <optional>

#include "doors/listenport.h"
#include "pad/padcontrolprotocol.h"
#include "settings/settings.h"

QList<PortSetting> serverPortSettings(const Settings& settings)
{
    const std::optional<quint16> control = settings.simulator.padControlPort;
    return {
        {QStringLiteral("Local"), QStringLiteral("localSockport"), settings.local.fields.sockport},
        {QStringLiteral("WebSocket"), QStringLiteral("Port"), settings.webSocket.port},
        {QStringLiteral("TLS"), QStringLiteral("Port"), settings.tls.port},
        {QStringLiteral("Simulator"), QStringLiteral("padControlPort"),
         QString::number(control.value_or(PadControlProtocol::kDefaultPort))},
        {QStringLiteral("Metrics"), QStringLiteral("Port"), settings.metrics.port},
    };
}

QStringList portClashes(const QList<PortSetting>& ports)
{
    QList<std::optional<quint16>> numbers;
    for (const PortSetting& port : ports)
        numbers << parseListenPort(port.value.trimmed());
    QStringList lines;
    for (qsizetype i = 0; i < ports.size(); ++i) {
        for (qsizetype j = i + 1; j < ports.size(); ++j) {
            if (numbers.at(i) && numbers.at(i) == numbers.at(j))
                lines << QStringLiteral("Settings: [%1] %2 and [%3] %4 are both port %5; only one "
                                        "of them can listen")
                             .arg(ports.at(i).section, ports.at(i).key, ports.at(j).section,
                                  ports.at(j).key)
                             .arg(*numbers.at(i));
        }
    }
    return lines;
}
