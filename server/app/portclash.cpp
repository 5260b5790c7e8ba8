#include "app/portclash.h"

#include <optional>

#include "pad/padcontrolprotocol.h"
#include "request/listenport.h"
#include "settings/storedsettings.h"

QList<PortSetting> serverPortSettings(const StoredSettings& stored)
{
    return {
        {QStringLiteral("Local"), QStringLiteral("localSockport"), stored.localSockport},
        {QStringLiteral("WebSocket"), QStringLiteral("Port"), stored.webSocketPort},
        {QStringLiteral("Simulator"), QStringLiteral("padControlPort"),
         QString::number(stored.padControlPort.value_or(PadControlProtocol::kDefaultPort))},
        {QStringLiteral("Metrics"), QStringLiteral("Port"), stored.metricsPort},
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
