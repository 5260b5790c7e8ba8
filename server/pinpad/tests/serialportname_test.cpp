#include "pinpad/serialportname.h"

#include <gtest/gtest.h>

#include "pinpadtestsupport.h"
#include "settings/settingsfile.h"
#include "testfiles.h"

TEST(SerialPortName, ComNumbersGoThroughTheMappingAndPathsAreTakenAsThey)
{
    PinPadTestLog dir;
    const QString settingsPath = dir.folder() + QStringLiteral("/varnelpayment.ini");
    TestFiles::writeAll(settingsPath, "[serialports]\r\nCOM3=/dev/ttyUSB0\r\nCom12= /dev/pts/7 \r\n"
                                      "COM4=\r\n");
    const std::vector<std::pair<QString, QString>> cases{
        {QStringLiteral("1"), QStringLiteral("/dev/ttyS0")},
        {QStringLiteral("COM1"), QStringLiteral("/dev/ttyS0")},
        {QStringLiteral("com2"), QStringLiteral("/dev/ttyS1")},
        {QStringLiteral(" 3 "), QStringLiteral("/dev/ttyUSB0")},
        {QStringLiteral("COM3"), QStringLiteral("/dev/ttyUSB0")},
        // An empty mapping is no mapping.
        {QStringLiteral("4"), QStringLiteral("/dev/ttyS3")},
        // Ports above 8 can be typed in.
        {QStringLiteral("12"), QStringLiteral("/dev/pts/7")},
        {QStringLiteral("255"), QStringLiteral("/dev/ttyS254")},
        {QStringLiteral("/tmp/pinpad link"), QStringLiteral("/tmp/pinpad link")},
        {QString(), QString()},
        {QStringLiteral("0"), QString()},
        {QStringLiteral("COM"), QString()},
        {QStringLiteral("256"), QString()},
        {QStringLiteral("-1"), QString()},
        {QStringLiteral("ttyS0"), QString()},
        {QStringLiteral("COM1x"), QString()},
    };
    for (const auto& [text, device] : cases)
        EXPECT_EQ(SerialPortName::devicePath(text, SettingsFile::read(settingsPath).serialPorts),
                  device)
            << qPrintable(text);
    EXPECT_EQ(SerialPortName::describe(QStringLiteral("3"), QStringLiteral("/dev/ttyUSB0")),
              QStringLiteral("COM3 (/dev/ttyUSB0)"));
    EXPECT_EQ(SerialPortName::describe(QStringLiteral("/dev/x"), QStringLiteral("/dev/x")),
              QStringLiteral("/dev/x"));
}
