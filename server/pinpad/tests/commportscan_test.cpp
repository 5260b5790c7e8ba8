#include "pinpad/commportscan.h"

#include <gtest/gtest.h>

#include "core/livesettings.h"
#include "fakeserialprobe.h"
#include "pinpadtestsupport.h"
#include "settings/settingsfile.h"
#include "testfiles.h"

TEST(CommPortScan, ListsThePortsThatOpenAndReleasesEachOne)
{
    PinPadTestLog log;
    const QString settingsPath = log.folder() + QStringLiteral("/varnelpayment.ini");
    // COM5 is a USB adapter, held by another program; the stored port is 5.
    TestFiles::writeAll(settingsPath, "[1000SE]\r\n1000SEDevice=1\r\n1000SECommPort=5\r\n"
                                      "[SerialPorts]\r\ncom5=/dev/ttyUSB0\r\n");
    FakeSerialProbe probe;
    probe.present = {QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS2"),
                     QStringLiteral("/dev/ttyS4"), QStringLiteral("/dev/ttyUSB0")};
    probe.inUse = {QStringLiteral("/dev/ttyUSB0")};
    LiveSettings settings;
    settings.setCommPortList(QStringList{QStringLiteral("stale")});
    const Settings stored = SettingsFile::read(settingsPath);
    CommPortScan scan(probe, settings, log.log(), stored.serialPorts);

    settings.load(stored.window(), [&scan] { scan.list_comm_ports(); });

    EXPECT_EQ(settings.commPortList(), (QStringList{QStringLiteral("1"), QStringLiteral("3")}));
    // The stored port shows although the scan did not find it.
    EXPECT_EQ(settings.cbo1000SECommPort(), QStringLiteral("5"));
    QStringList expectedLog;
    for (int port = 1; port <= 8; ++port) {
        expectedLog << QStringLiteral("commPort_get_info: COM%1").arg(port);
        if (port == 1 || port == 3)
            expectedLog << QStringLiteral("commPort_get_info: AddItem x=[%1]").arg(port);
        else if (port == 5)
            expectedLog << QStringLiteral("commPort_get_info: Error( 70)");
        else
            expectedLog << QStringLiteral("commPort_get_info: Error( 53)");
    }
    EXPECT_EQ(log.entries(), expectedLog);
    // Every port that opened is released before the next probe, the last one included.
    EXPECT_EQ(probe.calls,
              (QStringList{QStringLiteral("open /dev/ttyS0"), QStringLiteral("close /dev/ttyS0"),
                           QStringLiteral("open /dev/ttyS1"), QStringLiteral("open /dev/ttyS2"),
                           QStringLiteral("close /dev/ttyS2"), QStringLiteral("open /dev/ttyS3"),
                           QStringLiteral("open /dev/ttyUSB0"), QStringLiteral("open /dev/ttyS5"),
                           QStringLiteral("open /dev/ttyS6"), QStringLiteral("open /dev/ttyS7")}));
    EXPECT_FALSE(probe.PortOpen());

    // Scanned again with a port on COM8: the list starts afresh and the last port that opened
    // is released too.
    probe.present.insert(QStringLiteral("/dev/ttyS7"));
    scan.list_comm_ports();
    EXPECT_EQ(settings.commPortList(),
              (QStringList{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("8")}));
    EXPECT_FALSE(probe.PortOpen());
}
