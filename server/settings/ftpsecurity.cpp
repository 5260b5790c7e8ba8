#include "settings/ftpsecurity.h"

#include <QDir>
#include <QFileInfo>

#include "settings/ftpsettings.h"

namespace {

QString readSetting(const QString& settingsPath, const QString& key)
{
    return readFtpSetting(settingsPath, key).trimmed();
}

// A path as the settings give it, taken from the program folder when it is relative.
QString inProgramFolder(const QString& settingsPath, const QString& path)
{
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(QFileInfo(settingsPath).absoluteDir().absoluteFilePath(path));
}

} // namespace

FtpSecurity readFtpSecurity(const QString& settingsPath)
{
    FtpSecurity security;
    security.explicitTls = readSetting(settingsPath, QStringLiteral("TLS"))
                               .compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
    security.caFile =
        inProgramFolder(settingsPath, readSetting(settingsPath, QStringLiteral("CAFile")));
    security.keyFile =
        inProgramFolder(settingsPath, readSetting(settingsPath, QStringLiteral("KeyFile")));
    const QString knownHosts = readSetting(settingsPath, QStringLiteral("KnownHosts"));
    security.knownHosts = inProgramFolder(
        settingsPath, knownHosts.isEmpty() ? QStringLiteral("known_hosts") : knownHosts);
    return security;
}
