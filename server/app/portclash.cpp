#include "app/portclash.h"

#include <cstdio>

#include "log/activitylog.h"
#include "pad/padcontrolprotocol.h"
#include "request/listenport.h"
#include "settings/profilestore.h"

QList<PortSetting> serverPortSettings()
{
    return {
        {QStringLiteral("Local"), QStringLiteral("localSockport"), QStringLiteral("31420")},
        {QStringLiteral("WebSocket"), QStringLiteral("Port"), QString()},
        {QStringLiteral("Simulator"), QStringLiteral("padControlPort"),
         QString::number(PadControlProtocol::kDefaultPort)},
    };
}

QStringList portClashes(const QString& settingsPath, const QList<PortSetting>& ports)
{
    QList<std::optional<quint16>> numbers;
    for (const PortSetting& port : ports) {
        QString value;
        ProfileStore::reg_get_value(settingsPath, port.section, port.key, QStringLiteral("S"),
                                    port.defaultValue, value);
        numbers << parseListenPort(value.trimmed());
    }
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

void reportPortClashes(const QString& settingsPath, ActivityLog& log)
{
    for (const QString& line : portClashes(settingsPath, serverPortSettings())) {
        log.log(line);
        std::fputs(qPrintable(QStringLiteral("varnelpayment: ") + line + QLatin1Char('\n')),
                   stderr);
        std::fflush(stderr);
    }
}
