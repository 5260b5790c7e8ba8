#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>

#include "core/livesettings.h"
#include "fakeclock.h"
#include "filereplacements.h"
#include "log/activitylog.h"
#include "settings/outboxsettings.h"
#include "settings/profilestore.h"
#include "settings/settingsfile.h"
#include "testfiles.h"

using namespace TestFiles;

class SettingsFileTest : public ::testing::Test
{
protected:
    QTemporaryDir m_dir;
    QString m_path = m_dir.filePath(QStringLiteral("varnelpayment.ini"));
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(9, 30, 0))};
    ActivityLog m_log{m_dir.filePath(QStringLiteral("varnelpayment.log")), m_clock};
    SettingsFile m_settings{m_path, m_log};
    LiveSettings m_fields;
    // What a save writes besides the window's fields.
    Settings m_toSave;
    // What happened during a load, in order: box click handlers with the box's state, scans.
    QStringList m_events;

    void SetUp() override
    {
        QObject::connect(&m_fields, &LiveSettings::chkQP6100DeviceClick, [this] {
            m_events.append(QStringLiteral("qp6100:%1").arg(m_fields.chkQP6100Device()));
        });
        QObject::connect(&m_fields, &LiveSettings::chk1000SEDeviceClick, [this] {
            m_events.append(QStringLiteral("1000se:%1").arg(m_fields.chk1000SEDevice()));
        });
    }

    void load()
    {
        m_fields.load(m_settings.read().window(), [this] {
            m_events.append(QStringLiteral("scan"));
            m_fields.setCommPortList({QStringLiteral("1"), QStringLiteral("3")});
        });
    }

    // "Save Settings" with the window's fields as `m_fields` has them.
    void save() { m_settings.mnuFileSave(m_toSave.withWindow(m_fields.fields())); }

    QString stored(const char* section, const char* key) const
    {
        QString value;
        ProfileStore::reg_get_value(m_path, QLatin1String(section), QLatin1String(key),
                                    QStringLiteral("S"), QStringLiteral("<missing>"), value);
        return value;
    }
};

TEST_F(SettingsFileTest, LoadsAFileWithOnlyThePortAndTheDeviceBoxes)
{
    writeAll(m_path, "[Local]\r\nlocalSockport=4000\r\n[QP6100]\r\nqp6100Device=0\r\n"
                     "[1000SE]\r\n1000SEDevice=0\r\n");
    load();

    EXPECT_EQ(m_fields.txtSockport(), QStringLiteral("4000"));
    for (const QString& text :
         {m_fields.txtFtpUrl(), m_fields.txtFtpUsername(), m_fields.txtFtpPassword(),
          m_fields.cbo1000SECommPort(), m_fields.cbo1000SEBaudRate(), m_fields.txt1000SEParity(),
          m_fields.txt1000SEDataBits(), m_fields.txt1000SEEncryption()})
        EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(m_fields.chkQP6100Device(), LiveSettings::Unticked);
    EXPECT_EQ(m_fields.chk1000SEDevice(), LiveSettings::Unticked);
    // Both handlers run with the loaded state although neither box changed.
    EXPECT_EQ(m_events, (QStringList{QStringLiteral("scan"), QStringLiteral("qp6100:0"),
                                     QStringLiteral("1000se:0")}));
}

TEST_F(SettingsFileTest, LoadSetsTheBoxesAroundTheScanAndRunsBothHandlersLast)
{
    writeAll(m_path, "[QP6100]\nqp6100Device=1\n[1000SE]\n1000SEDevice=1\n1000SECommPort=7\n");
    load();

    EXPECT_EQ(m_events, (QStringList{QStringLiteral("qp6100:1"), QStringLiteral("scan"),
                                     QStringLiteral("1000se:1"), QStringLiteral("qp6100:1"),
                                     QStringLiteral("1000se:1")}));
    // A stored port shows even when the scan did not find it.
    EXPECT_EQ(m_fields.cbo1000SECommPort(), QStringLiteral("7"));
}

TEST_F(SettingsFileTest, LoadAppliesDefaultsCaseAndLengthRules)
{
    writeAll(m_path, "[LOCAL]\nLOCALSOCKPORT=5000\n[FTP]\nftpUsername=\nftpPassword=" +
                         QByteArray(300, 'p') + "\n");
    load();
    EXPECT_EQ(m_fields.txtSockport(), QStringLiteral("5000"));
    EXPECT_EQ(m_fields.txtFtpPassword(), QString(254, QLatin1Char('p')));
    EXPECT_TRUE(m_fields.txtFtpUsername().isEmpty());

    writeAll(m_path, "[Local]\nother=1\n");
    load();
    EXPECT_EQ(m_fields.txtSockport(), QStringLiteral("31420"));

    // An empty port stays empty: the default is only for a missing key.
    writeAll(m_path, "[Local]\nlocalSockport=\n");
    load();
    EXPECT_TRUE(m_fields.txtSockport().isEmpty());
}

TEST_F(SettingsFileTest, LoadWithoutAFileGivesTheDefaults)
{
    m_fields.setTxtFtpUrl(QStringLiteral("typed before"));
    load();
    EXPECT_EQ(m_fields.txtSockport(), QStringLiteral("31420"));
    EXPECT_TRUE(m_fields.txtFtpUrl().isEmpty());
    EXPECT_EQ(m_fields.chkQP6100Device(), LiveSettings::Unticked);
    EXPECT_EQ(m_fields.chk1000SEDevice(), LiveSettings::Unticked);
    EXPECT_FALSE(QFileInfo::exists(m_path)) << "a load creates nothing";
}

TEST_F(SettingsFileTest, DeviceValuesOtherThanZeroOneTwoLoadUnticked)
{
    const QList<std::pair<QByteArray, int>> cases = {{"0", 0}, {"1", 1},   {"2", 2},
                                                     {"", 0},  {"abc", 0}, {"1.5", 0},
                                                     {"3", 0}, {"-1", 0},  {"99999999999", 0}};
    for (const auto& [text, state] : cases) {
        m_fields.setChkQP6100Device(LiveSettings::Ticked);
        m_fields.setChk1000SEDevice(LiveSettings::Greyed);
        writeAll(m_path,
                 "[QP6100]\nqp6100Device=" + text + "\n[1000SE]\n1000SEDevice=" + text + "\n");
        load();
        EXPECT_EQ(m_fields.chkQP6100Device(), state) << text.constData();
        EXPECT_EQ(m_fields.chk1000SEDevice(), state) << text.constData();
    }
}

TEST_F(SettingsFileTest, SaveCreatesAMissingFileForItsOwnerAndRoundTrips)
{
    m_fields.setTxtSockport(QStringLiteral("4000"));
    m_fields.setTxtFtpUrl(QStringLiteral("ftp://127.0.0.1"));
    m_fields.setTxtFtpUsername(QStringLiteral("user"));
    m_fields.setTxtFtpPassword(QStringLiteral("pa ss"));
    m_fields.setChkQP6100Device(LiveSettings::Ticked);
    m_fields.setChk1000SEDevice(LiveSettings::Unticked);
    m_fields.setCbo1000SECommPort(QStringLiteral("3"));
    m_fields.setCbo1000SEBaudRate(QStringLiteral("4000")); // typed, not in the list
    m_fields.setTxt1000SEParity(QStringLiteral("E"));
    m_fields.setTxt1000SEDataBits(QStringLiteral("7"));
    m_fields.setTxt1000SEEncryption(QStringLiteral("DUKPT"));
    m_toSave.qp6100.driver = QStringLiteral("screen");
    m_toSave.qp6100.screen = QStringLiteral("0");
    m_toSave.qp6100.cardReader = QStringLiteral("/dev/input/event7");

    save();

    EXPECT_EQ(unixMode(m_path), 0600);
    EXPECT_EQ(stored("QP6100", "qp6100Device"), QStringLiteral("1"));
    EXPECT_EQ(stored("1000SE", "1000SEDevice"), QStringLiteral("0"));
    EXPECT_EQ(stored("1000SE", "1000SEBaudRate"), QStringLiteral("4000"));
    EXPECT_TRUE(readAll(m_log.log_path()).endsWith(": mnuFileSave\r\n"));

    const Settings loaded = m_settings.read();
    EXPECT_EQ(loaded.window(), m_fields.fields());
    EXPECT_EQ(loaded.qp6100.driver, m_toSave.qp6100.driver);
    EXPECT_EQ(loaded.qp6100.screen, m_toSave.qp6100.screen);
    EXPECT_EQ(loaded.qp6100.cardReader, m_toSave.qp6100.cardReader);
}

TEST_F(SettingsFileTest, SaveKeepsTheRestOfAnExistingFile)
{
    writeAll(m_path, "; written by hand\r\n[Local]\r\nlocalSockport=31420\r\n[Notes]\r\nx=1\r\n");
    m_fields.setTxtSockport(QStringLiteral("4100"));
    save();

    const QByteArray after = readAll(m_path);
    EXPECT_TRUE(after.startsWith("; written by hand\r\n[Local]\r\nlocalSockport=4100\r\n"
                                 "[Notes]\r\nx=1\r\n"))
        << after.constData();
    EXPECT_EQ(stored("1000SE", "1000SEEncryption"), QString());
}

TEST_F(SettingsFileTest, SaveReplacesTheFileOnceWithAllElevenValues)
{
    writeAll(m_path, "; written by hand\r\n[1000SE]\r\n1000sebaudrate=9600\r\nnote=x\r\n\r\n"
                     "[Local]\r\nlocalSockport=31420\r\n[Notes]\r\nx=1\r\n");
    m_fields.setTxtSockport(QStringLiteral("4100"));
    m_fields.setTxtFtpUrl(QStringLiteral("ftp://127.0.0.1"));
    m_fields.setTxtFtpUsername(QStringLiteral("user"));
    m_fields.setTxtFtpPassword(QStringLiteral("pa ss"));
    m_fields.setChkQP6100Device(LiveSettings::Ticked);
    m_fields.setCbo1000SECommPort(QStringLiteral("3"));
    m_fields.setCbo1000SEBaudRate(QStringLiteral("4000"));
    m_fields.setTxt1000SEParity(QStringLiteral("E"));
    m_fields.setTxt1000SEDataBits(QStringLiteral("7"));
    m_toSave.qp6100.driver = QStringLiteral("screen");
    m_toSave.qp6100.screen = QStringLiteral("1");
    m_toSave.qp6100.cardReader = QStringLiteral("/dev/input/by-id/usb-reader-event-kbd");
    FileReplacements replacements(m_path);
    ASSERT_TRUE(replacements.isWatching());

    save();

    // A reader or a crash sees the old file or the new one, never a half-saved one.
    EXPECT_EQ(replacements.take(), 1);
    EXPECT_EQ(readAll(m_path), "; written by hand\r\n"
                               "[1000SE]\r\n"
                               "1000sebaudrate=4000\r\n"
                               "note=x\r\n"
                               "1000SEDevice=0\r\n"
                               "1000SECommPort=3\r\n"
                               "1000SEParity=E\r\n"
                               "1000SEDataBits=7\r\n"
                               "1000SEEncryption=\r\n"
                               "\r\n"
                               "[Local]\r\n"
                               "localSockport=4100\r\n"
                               "[Notes]\r\n"
                               "x=1\r\n"
                               "[FTP]\r\n"
                               "ftpUrl=ftp://127.0.0.1\r\n"
                               "ftpUsername=user\r\n"
                               "ftpPassword=pa ss\r\n"
                               "[QP6100]\r\n"
                               "qp6100Device=1\r\n"
                               "Driver=screen\r\n"
                               "Screen=1\r\n"
                               "CardReader=/dev/input/by-id/usb-reader-event-kbd\r\n");
}

TEST_F(SettingsFileTest, SaveIntoAMissingFolderCreatesNothing)
{
    SettingsFile elsewhere(m_dir.filePath(QStringLiteral("missing/varnelpayment.ini")), m_log);
    elsewhere.mnuFileSave(m_toSave.withWindow(m_fields.fields()));
    EXPECT_FALSE(QFileInfo::exists(m_dir.filePath(QStringLiteral("missing"))));
}

TEST_F(SettingsFileTest, EverySaveLeavesTheFileReadableByItsOwnerOnly)
{
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    for (const QFileDevice::Permissions before :
         {QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::ReadOther),
          QFileDevice::Permissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                   QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                   QFileDevice::ReadOther | QFileDevice::WriteOther),
          ownerOnly}) {
        writeAll(m_path, "[FTP]\r\nftpPassword=old\r\n");
        ASSERT_TRUE(QFile::setPermissions(m_path, before));
        m_fields.setTxtFtpPassword(QStringLiteral("s3cret"));
        save();
        EXPECT_EQ(stored("FTP", "ftpPassword"), QStringLiteral("s3cret"));
        EXPECT_EQ(QFile::permissions(m_path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                  ownerOnly)
            << int(before);
    }
}

TEST_F(SettingsFileTest, MaxConnectionsIsAWholeNumberFromOneTo100000Or200)
{
    const QList<std::pair<QByteArray, int>> cases = {
        {"", 200},
        {"MaxConnections=50\r\n", 50},
        {"maxconnections= 7\r\n", 7},
        {"MaxConnections=1\r\n", 1},
        {"MaxConnections=100000\r\n", 100000},
        {"MaxConnections=0\r\n", 200},
        {"MaxConnections=100001\r\n", 200},
        {"MaxConnections=-5\r\n", 200},
        {"MaxConnections=lots\r\n", 200},
        {"MaxConnections=\r\n", 200},
        {"MaxConnections=2.5\r\n", 200},
    };
    QStringList complaints;
    for (const auto& [line, expected] : cases) {
        writeAll(m_path, "[Local]\r\nlocalSockport=31420\r\n" + line);
        const Settings stored = m_settings.read();
        EXPECT_EQ(stored.local.maxConnections, expected) << line.constData();
        EXPECT_EQ(stored.complaints.size(), expected == 200 && !line.isEmpty() ? 1 : 0)
            << line.constData();
        complaints += stored.complaints;
    }
    // An unusable value is described with what was found.
    EXPECT_TRUE(complaints.contains(QStringLiteral("Settings: MaxConnections=[lots] is not a "
                                                   "whole number from 1 to 100000; 200 is used")));
}

TEST_F(SettingsFileTest, ReadsTheSerialPortMapAndTheControlPort)
{
    writeAll(m_path, "[SerialPorts]\r\nCOM3=/dev/ttyUSB0\r\ncom7 = /dev/pinpad \r\nCOM9=\r\n"
                     "COM256=/dev/nowhere\r\n[Simulator]\r\npadControlPort=40123\r\n");
    const Settings stored = m_settings.read();
    EXPECT_EQ(stored.serialPorts, (QMap<int, QString>{{3, QStringLiteral("/dev/ttyUSB0")},
                                                      {7, QStringLiteral("/dev/pinpad")}}));
    EXPECT_EQ(stored.simulator.padControlPort, std::optional<quint16>(40123));
    for (const char* bad : {"0", "65536", "seventy", ""}) {
        writeAll(m_path, QByteArray("[Simulator]\r\npadControlPort=") + bad + "\r\n");
        EXPECT_EQ(m_settings.read().simulator.padControlPort, std::nullopt) << bad;
    }
}

TEST_F(SettingsFileTest, PinTimeoutIsAWholeNumberFrom10To3600Or120AndASaveKeepsIt)
{
    const QList<std::pair<QByteArray, int>> cases = {
        {"", 120},
        {"PinTimeout=45\r\n", 45},
        {"pintimeout= 30 \r\n", 30},
        {"PinTimeout=10\r\n", 10},
        {"PinTimeout=3600\r\n", 3600},
        {"PinTimeout=9\r\n", 120},
        {"PinTimeout=3601\r\n", 120},
        {"PinTimeout=0\r\n", 120},
        {"PinTimeout=-30\r\n", 120},
        {"PinTimeout=slow\r\n", 120},
        {"PinTimeout=\r\n", 120},
        {"PinTimeout=12.5\r\n", 120},
    };
    QStringList log;
    for (const auto& [line, expected] : cases) {
        // In its own section: a PinTimeout elsewhere is not the PIN pad's.
        writeAll(m_path, "[Local]\r\nPinTimeout=77\r\n[1000SE]\r\n1000SEDevice=1\r\n" + line);
        const Settings stored = m_settings.read();
        EXPECT_EQ(stored.pinPad.pinTimeoutSeconds, expected) << line.constData();
        log += stored.complaints;
    }
    // An unusable value is logged with what was found; a missing key and a usable one are not.
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Settings: PinTimeout=[slow] is not a whole number from 10 to 3600; 120 is used")));
    EXPECT_TRUE(log.contains(QStringLiteral(
        "Settings: PinTimeout=[9] is not a whole number from 10 to 3600; 120 is used")));
    EXPECT_EQ(log.filter(QStringLiteral("PinTimeout")).size(), 7);

    // Not a field of the window: a save leaves the line as it was.
    writeAll(m_path, "[1000SE]\r\n1000SEDevice=1\r\nPinTimeout=45\r\n");
    save();
    EXPECT_EQ(m_settings.read().pinPad.pinTimeoutSeconds, 45);
    EXPECT_TRUE(readAll(m_path).contains("PinTimeout=45\r\n"));
}

TEST_F(SettingsFileTest, MaxLogMegabytesIsAWholeNumberFromOneTo100000Or256)
{
    const QList<std::pair<QByteArray, int>> cases = {
        {"", 256},
        {"MaxLogMegabytes=2\r\n", 2},
        {"maxlogmegabytes= 64\r\n", 64},
        {"MaxLogMegabytes=1\r\n", 1},
        {"MaxLogMegabytes=100000\r\n", 100000},
        {"MaxLogMegabytes=0\r\n", 256},
        {"MaxLogMegabytes=-1\r\n", 256},
        {"MaxLogMegabytes=100001\r\n", 256},
        {"MaxLogMegabytes=abc\r\n", 256},
        {"MaxLogMegabytes=\r\n", 256},
        {"MaxLogMegabytes=1.5\r\n", 256},
    };
    for (const auto& [line, expected] : cases) {
        writeAll(m_path, "[Local]\r\nlocalSockport=31420\r\nMaxConnections=7\r\n" + line);
        const Settings stored = m_settings.read();
        EXPECT_EQ(stored.local.maxLogMegabytes, expected) << line.constData();
        // Only an unusable value is described, with what was found.
        const QString found = QString::fromLatin1(line.mid(line.indexOf('=') + 1)).trimmed();
        const QStringList expectedLog =
            line.isEmpty() || expected != 256
                ? QStringList()
                : QStringList{QStringLiteral("Settings: MaxLogMegabytes=[%1] is not a whole number "
                                             "from 1 to 100000; 256 is used")
                                  .arg(found)};
        EXPECT_EQ(stored.complaints, expectedLog) << line.constData();
    }
    // Nothing writes the key back.
    save();
    EXPECT_EQ(stored("Local", "MaxLogMegabytes"), QStringLiteral("1.5"));
}

TEST(OutboxSettingsTest, TimesAreWholeNumbersOfSecondsMinutesOrHoursAndABadOneIsSaid)
{
    const struct
    {
        QByteArray line;
        qint64 retryFirst;
        bool complained;
    } cases[] = {
        {"", 10, false},
        {"RetryFirst=30s\r\n", 30, false},
        {"retryfirst=2M\r\n", 120, false},
        {"RetryFirst= 1h \r\n", 3600, false},
        {"RetryFirst=0s\r\n", 10, true},
        {"RetryFirst=-5s\r\n", 10, true},
        {"RetryFirst=10\r\n", 10, true},
        {"RetryFirst=1.5m\r\n", 10, true},
        {"RetryFirst=1d\r\n", 10, true},
        {"RetryFirst=99999999999h\r\n", 10, true},
    };
    QTemporaryDir home;
    const QString path = home.filePath(QStringLiteral("varnelpayment.ini"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.constData());
        TestFiles::writeAll(path, "[FTP]\r\n" + c.line + "OutboxMegabytes=many\r\n");
        QStringList complaints;
        const OutboxSettings settings = readOutboxSettings(path, &complaints);
        EXPECT_EQ(settings.retryFirstSeconds, c.retryFirst);
        EXPECT_EQ(settings.capBytes, 512LL * 1024 * 1024);
        // The cap's bad value is always said; the time's only when it is bad.
        EXPECT_EQ(complaints.size(), c.complained ? 2 : 1)
            << qPrintable(complaints.join(QLatin1Char('|')));
    }
}
