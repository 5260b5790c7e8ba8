#include "settings/settingsfile.h"

#include <QFile>

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "settings/profilestore.h"

namespace {

const QString kText = QStringLiteral("S");

// A device box's stored state; a missing, empty or unknown value leaves the box unticked.
int deviceState(const QString& stored)
{
    bool ok = false;
    const int state = stored.toInt(&ok);
    if (!ok || state < LiveSettings::Unticked || state > LiveSettings::Greyed)
        return LiveSettings::Unticked;
    return state;
}

} // namespace

SettingsFile::SettingsFile(QString settingsPath, ActivityLog& log)
    : m_path(std::move(settingsPath)), m_log(log)
{
}

void SettingsFile::load_settings(LiveSettings& fields, const std::function<void()>& list_comm_ports)
{
    auto read = [this](const char* section, const char* key, const QString& defaultValue) {
        QString value;
        ProfileStore::reg_get_value(m_path, QLatin1String(section), QLatin1String(key), kText,
                                    defaultValue, value);
        return value;
    };
    const QString localSockport = read("Local", "localSockport", QStringLiteral("31420"));
    const QString ftpUrl = read("FTP", "ftpUrl", {});
    const QString ftpUsername = read("FTP", "ftpUsername", {});
    const QString ftpPassword = read("FTP", "ftpPassword", {});
    const QString qp6100Device = read("QP6100", "qp6100Device", {});
    const QString qp6100Driver = read("QP6100", "Driver", {});
    const QString qp6100Screen = read("QP6100", "Screen", {});
    const QString qp6100CardReader = read("QP6100", "CardReader", {});
    const QString device1000SE = read("1000SE", "1000SEDevice", {});
    const QString commPort = read("1000SE", "1000SECommPort", {});
    const QString baudRate = read("1000SE", "1000SEBaudRate", {});
    const QString parity = read("1000SE", "1000SEParity", {});
    const QString dataBits = read("1000SE", "1000SEDataBits", {});
    const QString encryption = read("1000SE", "1000SEEncryption", {});
    const QString allowFrom = read("Local", "allowFrom", {});
    const QString bindAddress = read("Local", "bindAddress", {});
    const QString webSocketPort = read("WebSocket", "Port", {});
    const QString webSocketOrigins = read("WebSocket", "Origins", {});
    const QString webSocketCertFile = read("WebSocket", "CertFile", {});
    const QString webSocketKeyFile = read("WebSocket", "KeyFile", {});

    fields.setTxtSockport(localSockport);
    fields.setTxtFtpUrl(ftpUrl);
    fields.setTxtFtpUsername(ftpUsername);
    fields.setTxtFtpPassword(ftpPassword);
    // The pad's own keys first: connecting it (the device box) may open the screen pad.
    fields.setQp6100Driver(qp6100Driver);
    fields.setQp6100Screen(qp6100Screen);
    fields.setQp6100CardReader(qp6100CardReader);
    fields.setChkQP6100Device(deviceState(qp6100Device));
    if (list_comm_ports)
        list_comm_ports();
    fields.setChk1000SEDevice(deviceState(device1000SE));
    // Set after the scan refilled the list, so a stored port shows even when it was not found.
    fields.setCbo1000SECommPort(commPort);
    fields.setCbo1000SEBaudRate(baudRate);
    fields.setTxt1000SEParity(parity);
    fields.setTxt1000SEDataBits(dataBits);
    fields.setTxt1000SEEncryption(encryption);
    // Not in the window and never saved: they stay as the file has them.
    fields.setAllowFrom(allowFrom);
    fields.setBindAddress(bindAddress);
    fields.setWebSocketPort(webSocketPort);
    fields.setWebSocketOrigins(webSocketOrigins);
    fields.setWebSocketCertFile(webSocketCertFile);
    fields.setWebSocketKeyFile(webSocketKeyFile);

    // Each handler runs at least once with the loaded state, even when the state did not change.
    fields.clickChkQP6100Device();
    fields.clickChk1000SEDevice();
}

QString SettingsFile::metricsPort() const
{
    QString stored;
    ProfileStore::reg_get_value(m_path, QStringLiteral("Metrics"), QStringLiteral("Port"), kText,
                                {}, stored);
    return stored.trimmed();
}

int SettingsFile::maxConnections() const
{
    QString stored;
    ProfileStore::reg_get_value(m_path, QStringLiteral("Local"), QStringLiteral("MaxConnections"),
                                kText, QString::number(kDefaultMaxConnections), stored);
    bool ok = false;
    const int max = stored.trimmed().toInt(&ok);
    if (ok && max >= kLowestMaxConnections && max <= kHighestMaxConnections)
        return max;
    m_log.log(QStringLiteral("Settings: MaxConnections=[") + stored +
              QStringLiteral("] is not a whole number from %1 to %2; %3 is used")
                  .arg(kLowestMaxConnections)
                  .arg(kHighestMaxConnections)
                  .arg(kDefaultMaxConnections));
    return kDefaultMaxConnections;
}

void SettingsFile::mnuFileSave(const LiveSettings& fields)
{
    m_log.log(QStringLiteral("mnuFileSave"));

    // The FTP password is in the file, so only its owner may read it, whatever mode it had.
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (!QFile::exists(m_path)) {
        // The store writes only into an existing file.
        QFile created(m_path);
        if (!created.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnly))
            qWarning("Settings: cannot create %s: %s", qUtf8Printable(m_path),
                     qUtf8Printable(created.errorString()));
    } else {
        // Before the save, which gives the new file the mode of the old one.
        QFile::setPermissions(m_path, ownerOnly);
    }

    // All in one replace of the file: a crash mid-save leaves the old file whole.
    const auto latin = [](const char* text) { return QString::fromLatin1(text); };
    const QList<ProfileStore::ProfileValue> values = {
        {latin("Local"), latin("localSockport"), fields.txtSockport()},
        {latin("FTP"), latin("ftpUrl"), fields.txtFtpUrl()},
        {latin("FTP"), latin("ftpUsername"), fields.txtFtpUsername()},
        {latin("FTP"), latin("ftpPassword"), fields.txtFtpPassword()},
        {latin("QP6100"), latin("qp6100Device"), QString::number(fields.chkQP6100Device())},
        {latin("QP6100"), latin("Driver"), fields.qp6100Driver()},
        {latin("QP6100"), latin("Screen"), fields.qp6100Screen()},
        {latin("QP6100"), latin("CardReader"), fields.qp6100CardReader()},
        {latin("1000SE"), latin("1000SEDevice"), QString::number(fields.chk1000SEDevice())},
        {latin("1000SE"), latin("1000SECommPort"), fields.cbo1000SECommPort()},
        {latin("1000SE"), latin("1000SEBaudRate"), fields.cbo1000SEBaudRate()},
        {latin("1000SE"), latin("1000SEParity"), fields.txt1000SEParity()},
        {latin("1000SE"), latin("1000SEDataBits"), fields.txt1000SEDataBits()},
        {latin("1000SE"), latin("1000SEEncryption"), fields.txt1000SEEncryption()},
    };
    if (ProfileStore::reg_set_values(m_path, kText, values) != ProfileStore::kDone)
        qWarning("Settings: the settings could not be written to %s", qUtf8Printable(m_path));
    if (QFile::exists(m_path) && !QFile::setPermissions(m_path, ownerOnly))
        qWarning("Settings: cannot make %s readable by its owner only", qUtf8Printable(m_path));
}
