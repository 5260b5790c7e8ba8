#include "settings/ftpsettings.h"

#include "settings/profilestore.h"

QString readFtpSetting(const QString& settingsPath, const QString& key)
{
    QString value;
    ProfileStore::reg_get_value(settingsPath, QStringLiteral("FTP"), key, QStringLiteral("S"),
                                QString(), value);
    return value;
}

FtpSettings readFtpSettings(const QString& settingsPath)
{
    return FtpSettings{readFtpSetting(settingsPath, QStringLiteral("ftpURL")),
                       readFtpSetting(settingsPath, QStringLiteral("ftpUsername")),
                       readFtpSetting(settingsPath, QStringLiteral("ftpPassword"))};
}
