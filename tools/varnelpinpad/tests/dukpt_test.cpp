#include "dukpt.h"

#include <gtest/gtest.h>

namespace {
const QByteArray kTestKey = QByteArray::fromHex("0123456789ABCDEFFEDCBA9876543210");
const QByteArray kAccount = "4012345678909";
} // namespace

TEST(Dukpt, PinBlocksMatchTheStandardsKnownAnswers)
{
    // The test key's transactions of ANSI X9.24-1, PIN 1234 on the account 4012345678909,
    // from the first counters to those with bits in every byte of the counter.
    const std::vector<std::pair<QByteArray, QByteArray>> expected{
        {"FFFF9876543210E00001", "1B9C1845EB993A7A"}, {"FFFF9876543210E00002", "10A01C8D02C69107"},
        {"FFFF9876543210E00003", "18DC07B94797B466"}, {"FFFF9876543210E00004", "0BC79509D5645DF7"},
        {"FFFF9876543210E0000A", "EDABBA23221833FE"}, {"FFFF9876543210E00015", "72105C22EBC791E6"},
        {"FFFF9876543210E10000", "19776D96D73AF1E2"}, {"FFFF9876543210E80000", "1E0F453FD55FCE45"},
        {"FFFF9876543210EFF800", "33365F5CC6F23C35"}, {"FFFF9876543210EFF801", "3A86BF003F835C9D"},
        {"FFFF9876543210EFF840", "40870B0F8BA2011C"}, {"FFFF9876543210EFFC00", "DEFC6F09F8927B71"},
        {"FFFF9876543210F00000", "73EC88AD0AC5830E"}};
    for (const auto& [serial, block] : expected)
        EXPECT_EQ(Dukpt::encryptedPinBlock(kTestKey, QByteArray::fromHex(serial), "1234", kAccount)
                      .toHex()
                      .toUpper(),
                  block)
            << serial.constData();
}

TEST(Dukpt, TheCounterSkipsValuesWithMoreThanTenBitsAndEnds)
{
    const struct
    {
        const char* ksn;
        const char* next; // empty at the counter's end
    } steps[] = {
        {"FFFF9876543210E00001", "FFFF9876543210E00002"},
        {"FFFF9876543210E003FE", "FFFF9876543210E003FF"}, // ten bits set is allowed
        {"FFFF9876543210E003FF", "FFFF9876543210E00400"},
        {"FFFF9876543210E007FE", "FFFF9876543210E00800"}, // 0x7FF has eleven
        {"FFFF9876543210EFF800", "FFFF9876543210EFF801"},
        {"FFFF9876543210EFFC00", "FFFF9876543210F00000"}, // the top counter bit, in byte 7
        {"FFFF9876543210FFF400", "FFFF9876543210FFF800"},
        {"FFFF9876543210FFF800", ""}, // the last transaction
        // From a counter with too many bits, on to the next one that may be used.
        {"FFFF9876543210E1FFFF", "FFFF9876543210E20000"},
    };
    for (const auto& step : steps) {
        const std::optional<QByteArray> next = Dukpt::nextKsn(QByteArray::fromHex(step.ksn));
        EXPECT_EQ(next ? next->toHex().toUpper() : QByteArray(), QByteArray(step.next)) << step.ksn;
    }
    EXPECT_TRUE(
        Dukpt::isTransactionCounter(Dukpt::counterOf(QByteArray::fromHex("FFFF9876543210FFF800"))));
    EXPECT_FALSE(
        Dukpt::isTransactionCounter(Dukpt::counterOf(QByteArray::fromHex("FFFF9876543210E007FF"))));
    EXPECT_FALSE(
        Dukpt::isTransactionCounter(Dukpt::counterOf(QByteArray::fromHex("FFFF9876543210E00000"))));
}

TEST(Dukpt, ClearBlockIsIsoFormatZeroAndBadInputMakesNone)
{
    // PIN field 041234FFFFFFFFFF XOR account field 0000401234567890.
    EXPECT_EQ(Dukpt::isoFormat0("1234", kAccount).toHex().toUpper(), "041274EDCBA9876F");
    // A short account is padded with zeros on the left.
    EXPECT_EQ(Dukpt::isoFormat0("123456789012", "12").toHex().toUpper(), "0C123456789012FE");
    for (const QByteArray& pin :
         {QByteArray("123"), QByteArray("1234567890123"), QByteArray("12a4")})
        EXPECT_TRUE(Dukpt::isoFormat0(pin, kAccount).isEmpty()) << pin.constData();
    EXPECT_TRUE(Dukpt::isoFormat0("1234", "4").isEmpty());
    EXPECT_TRUE(Dukpt::encryptedPinBlock(
                    kTestKey.left(8), QByteArray::fromHex("FFFF9876543210E00001"), "1234", kAccount)
                    .isEmpty());
}
