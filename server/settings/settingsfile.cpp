#include "settings/settingsfile.h"

#include <QFile>

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "settings/profilestore.h"
#include "settings/profiletext.h"

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

namespace {

QString readText(const QString& path, const char* section, const char* key,
                 const QString& defaultValue = {})
{
    QString value;
    ProfileStore::reg_get_value(path, QLatin1String(section), QLatin1String(key), kText,
                                defaultValue, value);
    return value;
}

// A whole number from `lowest` to `highest`; another value is described in `complaints` and
// `fallback` is used. A missing key is the fallback, quietly.
int readWholeNumber(const QString& path, const char* section, const char* key, int fallback,
                    int lowest, int highest, QStringList& complaints)
{
    const QString stored = readText(path, section, key, QString::number(fallback));
    bool ok = false;
    const int value = stored.trimmed().toInt(&ok);
    if (ok && value >= lowest && value <= highest)
        return value;
    complaints.append(QStringLiteral("Settings: %1=[%2] is not a whole number from %3 to %4; "
                                     "%5 is used")
                          .arg(QLatin1String(key), stored)
                          .arg(lowest)
                          .arg(highest)
                          .arg(fallback));
    return fallback;
}

} // namespace

StoredSettings SettingsFile::read(const QString& path)
{
    const auto text = [&path](const char* section, const char* key) {
        return readText(path, section, key);
    };
    StoredSettings s;
    s.localSockport = readText(path, "Local", "localSockport", s.localSockport);
    s.ftpUrl = text("FTP", "ftpUrl");
    s.ftpUsername = text("FTP", "ftpUsername");
    s.ftpPassword = text("FTP", "ftpPassword");
    s.qp6100Device = text("QP6100", "qp6100Device");
    s.qp6100Driver = text("QP6100", "Driver");
    s.qp6100Screen = text("QP6100", "Screen");
    s.qp6100CardReader = text("QP6100", "CardReader");
    s.device1000SE = text("1000SE", "1000SEDevice");
    s.commPort1000SE = text("1000SE", "1000SECommPort");
    s.baudRate1000SE = text("1000SE", "1000SEBaudRate");
    s.parity1000SE = text("1000SE", "1000SEParity");
    s.dataBits1000SE = text("1000SE", "1000SEDataBits");
    s.encryption1000SE = text("1000SE", "1000SEEncryption");
    s.allowFrom = text("Local", "allowFrom");
    s.bindAddress = text("Local", "bindAddress");
    s.webSocketPort = text("WebSocket", "Port");
    s.webSocketOrigins = text("WebSocket", "Origins");
    s.webSocketCertFile = text("WebSocket", "CertFile");
    s.webSocketKeyFile = text("WebSocket", "KeyFile");
    s.metricsPort = text("Metrics", "Port");
    s.maxConnections =
        readWholeNumber(path, "Local", "MaxConnections", StoredSettings::kDefaultMaxConnections,
                        StoredSettings::kLowestMaxConnections,
                        StoredSettings::kHighestMaxConnections, s.complaints);
    s.maxLogMegabytes = readWholeNumber(
        path, "Local", "MaxLogMegabytes", LogLimits::kDefaultMaxMegabytes,
        LogLimits::kLowestMaxMegabytes, LogLimits::kHighestMaxMegabytes, s.complaints);
    s.pinTimeoutSeconds =
        readWholeNumber(path, "1000SE", "PinTimeout", StoredSettings::kDefaultPinTimeoutSeconds,
                        StoredSettings::kShortestPinTimeoutSeconds,
                        StoredSettings::kLongestPinTimeoutSeconds, s.complaints);

    // A control port that is not one is the default, as the simulator's tools expect.
    bool ok = false;
    const uint control = text("Simulator", "padControlPort").trimmed().toUInt(&ok);
    if (ok && control > 0 && control <= 65535)
        s.padControlPort = quint16(control);

    // COM1 to COM255 may each name the device they stand for.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const ProfileText profile(file.read(1 << 20));
        for (int number = 1; number <= StoredSettings::kHighestComNumber; ++number) {
            const std::optional<QByteArray> device =
                profile.value("SerialPorts", "COM" + QByteArray::number(number));
            if (device && !device->trimmed().isEmpty())
                s.serialPorts.insert(number, QString::fromLocal8Bit(device->trimmed()));
        }
    }
    return s;
}

void SettingsFile::load_settings(LiveSettings& fields, const StoredSettings& stored,
                                 const std::function<void()>& list_comm_ports)
{
    fields.setTxtSockport(stored.localSockport);
    fields.setTxtFtpUrl(stored.ftpUrl);
    fields.setTxtFtpUsername(stored.ftpUsername);
    fields.setTxtFtpPassword(stored.ftpPassword);
    // The pad's own keys first: connecting it (the device box) may open the screen pad.
    fields.setQp6100Driver(stored.qp6100Driver);
    fields.setQp6100Screen(stored.qp6100Screen);
    fields.setQp6100CardReader(stored.qp6100CardReader);
    fields.setChkQP6100Device(deviceState(stored.qp6100Device));
    if (list_comm_ports)
        list_comm_ports();
    fields.setChk1000SEDevice(deviceState(stored.device1000SE));
    // Set after the scan refilled the list, so a stored port shows even when it was not found.
    fields.setCbo1000SECommPort(stored.commPort1000SE);
    fields.setCbo1000SEBaudRate(stored.baudRate1000SE);
    fields.setTxt1000SEParity(stored.parity1000SE);
    fields.setTxt1000SEDataBits(stored.dataBits1000SE);
    fields.setTxt1000SEEncryption(stored.encryption1000SE);
    // Not in the window and never saved: they stay as the file has them.
    fields.setAllowFrom(stored.allowFrom);
    fields.setBindAddress(stored.bindAddress);
    fields.setWebSocketPort(stored.webSocketPort);
    fields.setWebSocketOrigins(stored.webSocketOrigins);
    fields.setWebSocketCertFile(stored.webSocketCertFile);
    fields.setWebSocketKeyFile(stored.webSocketKeyFile);

    // Each handler runs at least once with the loaded state, even when the state did not change.
    fields.clickChkQP6100Device();
    fields.clickChk1000SEDevice();
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
