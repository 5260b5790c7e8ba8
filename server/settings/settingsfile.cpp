#include "settings/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// A CertFile or KeyFile given by a relative path names a file of the program folder, which is
// the settings file's own; an empty value stays empty.
QString inProgramFolder(const QString& settingsPath, const QString& file)
{
    const QString trimmed = file.trimmed();
    if (trimmed.isEmpty() || !QDir::isRelativePath(trimmed))
        return file;
    return QFileInfo(settingsPath).absoluteDir().filePath(trimmed);
}

} // namespace

Settings SettingsFile::read(const QString& path)
{
    const auto text = [&path](const char* section, const char* key) {
        return readText(path, section, key);
    };
    Settings s;
    LocalSettings& local = s.local;
    local.fields.sockport = readText(path, "Local", "localSockport", local.fields.sockport);
    s.ftp.url = text("FTP", "ftpUrl");
    s.ftp.user = text("FTP", "ftpUsername");
    s.ftp.password = text("FTP", "ftpPassword");
    s.qp6100.fields.device = deviceState(text("QP6100", "qp6100Device"));
    s.qp6100.driver = text("QP6100", "Driver");
    s.qp6100.screen = text("QP6100", "Screen");
    s.qp6100.cardReader = text("QP6100", "CardReader");
    PinPadFields& pinPad = s.pinPad.fields;
    pinPad.device = deviceState(text("1000SE", "1000SEDevice"));
    pinPad.commPort = text("1000SE", "1000SECommPort");
    pinPad.baudRate = text("1000SE", "1000SEBaudRate");
    pinPad.parity = text("1000SE", "1000SEParity");
    pinPad.dataBits = text("1000SE", "1000SEDataBits");
    pinPad.encryption = text("1000SE", "1000SEEncryption");
    local.allowFrom = text("Local", "allowFrom");
    local.bindAddress = text("Local", "bindAddress");
    s.webSocket.port = text("WebSocket", "Port");
    s.webSocket.origins = text("WebSocket", "Origins");
    s.webSocket.certFile = inProgramFolder(path, text("WebSocket", "CertFile"));
    s.webSocket.keyFile = inProgramFolder(path, text("WebSocket", "KeyFile"));
    s.tls = {text("TLS", "Port"), s.webSocket.certFile, s.webSocket.keyFile};
    s.metrics.port = text("Metrics", "Port");
    s.tills.requireKey =
        text("Tills", "RequireKey").trimmed().compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
    local.maxConnections = readWholeNumber(
        path, "Local", "MaxConnections", LocalSettings::kDefaultMaxConnections,
        LocalSettings::kLowestMaxConnections, LocalSettings::kHighestMaxConnections, s.complaints);
    local.maxLogMegabytes = readWholeNumber(
        path, "Local", "MaxLogMegabytes", LogLimits::kDefaultMaxMegabytes,
        LogLimits::kLowestMaxMegabytes, LogLimits::kHighestMaxMegabytes, s.complaints);
    local.idleSeconds = readWholeNumber(
        path, "Local", "IdleSeconds", LocalSettings::kDefaultIdleSeconds,
        LocalSettings::kShortestIdleSeconds, LocalSettings::kLongestIdleSeconds, s.complaints);
    s.pinPad.pinTimeoutSeconds =
        readWholeNumber(path, "1000SE", "PinTimeout", PinPadSettings::kDefaultPinTimeoutSeconds,
                        PinPadSettings::kShortestPinTimeoutSeconds,
                        PinPadSettings::kLongestPinTimeoutSeconds, s.complaints);

    // A control port that is not one is the default, as the simulator's tools expect.
    bool ok = false;
    const uint control = text("Simulator", "padControlPort").trimmed().toUInt(&ok);
    if (ok && control > 0 && control <= 65535)
        s.simulator.padControlPort = quint16(control);

    // COM1 to COM255 may each name the device they stand for.
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) {
        const ProfileText profile(file.read(1 << 20));
        for (int number = 1; number <= Settings::kHighestComNumber; ++number) {
            const std::optional<QByteArray> device =
                profile.value("SerialPorts", "COM" + QByteArray::number(number));
            if (device && !device->trimmed().isEmpty())
                s.serialPorts.insert(number, QString::fromLocal8Bit(device->trimmed()));
        }
    }
    return s;
}

void SettingsFile::mnuFileSave(const Settings& settings)
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
    const WindowFields& shown = settings.window();
    const QList<ProfileStore::ProfileValue> values = {
        {latin("Local"), latin("localSockport"), shown.local.sockport},
        {latin("FTP"), latin("ftpUrl"), shown.ftp.url},
        {latin("FTP"), latin("ftpUsername"), shown.ftp.user},
        {latin("FTP"), latin("ftpPassword"), shown.ftp.password},
        {latin("QP6100"), latin("qp6100Device"), QString::number(shown.qp6100.device)},
        {latin("QP6100"), latin("Driver"), settings.qp6100.driver},
        {latin("QP6100"), latin("Screen"), settings.qp6100.screen},
        {latin("QP6100"), latin("CardReader"), settings.qp6100.cardReader},
        {latin("1000SE"), latin("1000SEDevice"), QString::number(shown.pinPad.device)},
        {latin("1000SE"), latin("1000SECommPort"), shown.pinPad.commPort},
        {latin("1000SE"), latin("1000SEBaudRate"), shown.pinPad.baudRate},
        {latin("1000SE"), latin("1000SEParity"), shown.pinPad.parity},
        {latin("1000SE"), latin("1000SEDataBits"), shown.pinPad.dataBits},
        {latin("1000SE"), latin("1000SEEncryption"), shown.pinPad.encryption},
    };
    if (ProfileStore::reg_set_values(m_path, kText, values) != ProfileStore::kDone)
        qWarning("Settings: the settings could not be written to %s", qUtf8Printable(m_path));
    if (QFile::exists(m_path) && !QFile::setPermissions(m_path, ownerOnly))
        qWarning("Settings: cannot make %s readable by its owner only", qUtf8Printable(m_path));
}
