#include "metrics/healthanswer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "core/deviceboard.h"

namespace {

enum class Level { Pass, Warn, Fail };

QString levelName(Level level)
{
    switch (level) {
    case Level::Pass:
        return QStringLiteral("pass");
    case Level::Warn:
        return QStringLiteral("warn");
    case Level::Fail:
        return QStringLiteral("fail");
    }
    return QStringLiteral("fail");
}

} // namespace

HealthAnswer HealthAnswer::of(const DeviceBoard& devices, const QList<PortCheck>& ports,
                              const OutboxFigures& outbox, const QString& version)
{
    Level overall = Level::Pass;
    bool anyTicked = false;
    QJsonObject checks;
    for (DeviceId device : {DeviceId::Pad, DeviceId::PinPad}) {
        const DeviceBoard::Facts facts = devices.facts(device);
        anyTicked = anyTicked || facts.ticked;
        // A device that is not ticked is neither good nor bad.
        const bool failing =
            facts.ticked && ((!facts.reachable && !facts.busy) || facts.lastFailed);
        if (failing)
            overall = Level::Fail;
        QJsonObject check{
            {QStringLiteral("componentType"), QStringLiteral("device")},
            {QStringLiteral("status"), levelName(failing ? Level::Fail : Level::Pass)},
            {QStringLiteral("observedValue"),
             QLatin1String(DeviceBoard::statusName(devices.status(device)))},
            {QStringLiteral("ticked"), facts.ticked},
            {QStringLiteral("connected"), facts.reachable || facts.busy},
            {QStringLiteral("busy"), facts.busy},
            {QStringLiteral("lastFailed"), facts.lastFailed},
            {QStringLiteral("lastSeen"),
             facts.lastSeen > 0
                 ? QJsonValue(
                       QDateTime::fromSecsSinceEpoch(facts.lastSeen, Qt::UTC).toString(Qt::ISODate))
                 : QJsonValue()},
        };
        checks.insert(QLatin1String(DeviceBoard::deviceName(device)) + QStringLiteral(":state"),
                      QJsonArray{check});
    }
    QJsonArray portChecks;
    bool portMissing = false;
    for (const PortCheck& port : ports) {
        if (!port.asked)
            continue;
        const bool open = port.port != 0;
        portMissing = portMissing || !open;
        portChecks.append(QJsonObject{
            {QStringLiteral("componentId"), port.name},
            {QStringLiteral("componentType"), QStringLiteral("port")},
            {QStringLiteral("status"), levelName(open ? Level::Pass : Level::Warn)},
            {QStringLiteral("observedValue"), open ? QJsonValue(int(port.port)) : QJsonValue()},
        });
    }
    checks.insert(QStringLiteral("ports:listening"), portChecks);
    // Pictures that wait are the network's trouble, never the pad's: at worst a warning.
    constexpr qint64 kLongWaitSeconds = 3600;
    const bool outboxLate = outbox.oldestSeconds > kLongWaitSeconds || outbox.givenUpLastDay > 0;
    checks.insert(QStringLiteral("signatures:outbox"),
                  QJsonArray{QJsonObject{
                      {QStringLiteral("componentType"), QStringLiteral("queue")},
                      {QStringLiteral("status"), levelName(outboxLate ? Level::Warn : Level::Pass)},
                      {QStringLiteral("observedValue"), outbox.waiting},
                      {QStringLiteral("oldestSeconds"), double(outbox.oldestSeconds)},
                      {QStringLiteral("givenUpLastDay"), outbox.givenUpLastDay},
                  }});
    if (overall == Level::Pass && (!anyTicked || portMissing || outboxLate))
        overall = Level::Warn;

    const QJsonObject answer{{QStringLiteral("status"), levelName(overall)},
                             {QStringLiteral("version"), version},
                             {QStringLiteral("checks"), checks}};
    return HealthAnswer{overall == Level::Fail ? 503 : 200,
                        QJsonDocument(answer).toJson(QJsonDocument::Compact)};
}
