#include "settings/outboxsettings.h"

#include "settings/ftpsettings.h"

namespace {

QString readSetting(const QString& settingsPath, const QString& key)
{
    return readFtpSetting(settingsPath, key).trimmed();
}

} // namespace

qint64 parseDuration(const QString& text)
{
    static const struct
    {
        QChar unit;
        qint64 seconds;
    } kUnits[] = {{QLatin1Char('s'), 1}, {QLatin1Char('m'), 60}, {QLatin1Char('h'), 3600}};
    if (text.size() < 2)
        return -1;
    const QChar unit = text.back().toLower();
    for (const auto& known : kUnits) {
        if (unit != known.unit)
            continue;
        bool ok = false;
        const qint64 count = text.chopped(1).toLongLong(&ok);
        // Ten years at most: longer is no limit a shop means, and stays far from overflow.
        if (!ok || count <= 0 || count > 10LL * 365 * 24 * 3600 / known.seconds)
            return -1;
        return count * known.seconds;
    }
    return -1;
}

OutboxSettings readOutboxSettings(const QString& settingsPath, QStringList* complaints)
{
    OutboxSettings settings;
    const auto duration = [&](const QString& key, qint64& target) {
        const QString text = readSetting(settingsPath, key);
        if (text.isEmpty())
            return;
        const qint64 seconds = parseDuration(text);
        if (seconds > 0)
            target = seconds;
        else
            complaints->append(QStringLiteral("sig_ftp: [FTP] %1=[%2] is not a time such as 10s, "
                                              "10m or 72h: %3s used")
                                   .arg(key, text)
                                   .arg(target));
    };
    duration(QStringLiteral("RetryFirst"), settings.retryFirstSeconds);
    duration(QStringLiteral("RetryMax"), settings.retryMaxSeconds);
    duration(QStringLiteral("GiveUp"), settings.giveUpSeconds);
    const QString cap = readSetting(settingsPath, QStringLiteral("OutboxMegabytes"));
    if (!cap.isEmpty()) {
        bool ok = false;
        const qint64 megabytes = cap.toLongLong(&ok);
        if (ok && megabytes > 0 && megabytes <= 1024 * 1024)
            settings.capBytes = megabytes * 1024 * 1024;
        else
            complaints->append(QStringLiteral("sig_ftp: [FTP] OutboxMegabytes=[%1] is not a "
                                              "number of megabytes: %2 used")
                                   .arg(cap)
                                   .arg(settings.capBytes / (1024 * 1024)));
    }
    settings.queuedReply = readSetting(settingsPath, QStringLiteral("QueuedReply"))
                               .compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
    return settings;
}
