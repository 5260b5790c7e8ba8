#include "dukpt.h"

#include <gtest/gtest.h>

namespace {
const QByteArray kTestKey = QByteArray::fromHex("0123456789ABCDEFFEDCBA9876543210");
const QByteArray kAccount = "4012345678909";
} // namespace

TEST(Dukpt, PinBlocksMatchTheKnownAnswersForThreeTransactions)
{
    QByteArray ksn = QByteArray::fromHex("FFFF9876543210E00001");
    const std::vector<std::pair<QByteArray, QByteArray>> expected{
        {"FFFF9876543210E00001", "1B9C1845EB993A7A"},
        {"FFFF9876543210E00002", "10A01C8D02C69107"},
        {"FFFF9876543210E00003", "18DC07B94797B466"}};
    for (const auto& [serial, block] : expected) {
        EXPECT_EQ(ksn.toHex().toUpper(), serial);
        EXPECT_EQ(Dukpt::encryptedPinBlock(kTestKey, ksn, "1234", kAccount).toHex().toUpper(),
                  block);
        ksn = Dukpt::nextKsn(ksn);
    }
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
    // The counter wraps inside its 21 bits and leaves the key set identifier alone.
    EXPECT_EQ(Dukpt::nextKsn(QByteArray::fromHex("FFFF9876543210FFFFFF")).toHex().toUpper(),
              "FFFF9876543210E00000");
}
