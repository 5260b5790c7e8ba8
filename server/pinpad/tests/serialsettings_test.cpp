#include "pinpad/serialsettings.h"

#include <gtest/gtest.h>

TEST(SerialSettings, EmptyTextsTakeThePadsFactorySettingsAndOthersMustBeValid)
{
    using SerialSettings::baudRate;
    using SerialSettings::dataBits;
    using SerialSettings::parity;
    EXPECT_EQ(baudRate(QString()), 1200);
    EXPECT_EQ(baudRate(QStringLiteral(" 9600 ")), 9600);
    EXPECT_EQ(baudRate(QStringLiteral("128000")), 128000);
    for (const char* bad : {"0", "fast", "-1200", "12 00", "9600.5", "99999999"})
        EXPECT_FALSE(baudRate(QLatin1String(bad))) << bad;

    EXPECT_EQ(dataBits(QString()), QSerialPort::Data7);
    EXPECT_EQ(dataBits(QStringLiteral("8")), QSerialPort::Data8);
    EXPECT_EQ(dataBits(QStringLiteral("5")), QSerialPort::Data5);
    for (const char* bad : {"4", "9", "seven", "7 bits"})
        EXPECT_FALSE(dataBits(QLatin1String(bad))) << bad;

    const std::vector<std::pair<const char*, QSerialPort::Parity>> parities{
        {"", QSerialPort::EvenParity},    {"E", QSerialPort::EvenParity},
        {"e", QSerialPort::EvenParity},   {"O", QSerialPort::OddParity},
        {"n", QSerialPort::NoParity},     {"M", QSerialPort::MarkParity},
        {" s ", QSerialPort::SpaceParity}};
    for (const auto& [text, expected] : parities)
        EXPECT_EQ(parity(QLatin1String(text)), expected) << text;
    for (const char* bad : {"X", "Even", "EO", "1"})
        EXPECT_FALSE(parity(QLatin1String(bad))) << bad;
}
