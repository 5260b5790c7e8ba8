#include "request/timernumber.h"

#include <gtest/gtest.h>

#include "core/failure.h"

namespace {

int failureCodeOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const Failure& failure) {
        return failure.code();
    }
    return 0;
}

} // namespace

TEST(TimerNumber, ReadsTheLeadingNumberAndIgnoresTheRest)
{
    EXPECT_EQ(readLeadingNumber(QStringLiteral("30")), 30.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("2.5s")), 2.5);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("-7x9")), -7.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("+4")), 4.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("1.2.3")), 1.2);
    EXPECT_FALSE(readLeadingNumber(QStringLiteral("abc")).has_value());
    EXPECT_FALSE(readLeadingNumber(QString()).has_value());
    EXPECT_FALSE(readLeadingNumber(QStringLiteral(".")).has_value());
    EXPECT_FALSE(readLeadingNumber(QStringLiteral("-")).has_value());
}

TEST(TimerNumber, SkipsBlanksTabsAndLineFeedsAnywhere)
{
    EXPECT_EQ(readLeadingNumber(QStringLiteral(" 1 2\t3\n")), 123.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("- 4 . 5")), -4.5);
    // A carriage return is not skipped: it ends the number.
    EXPECT_EQ(readLeadingNumber(QStringLiteral("1\r2")), 1.0);
}

TEST(TimerNumber, ReadsExponentsOnlyWithDigits)
{
    EXPECT_EQ(readLeadingNumber(QStringLiteral("1e1")), 10.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("1.5E+2")), 150.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("25e-1")), 2.5);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("3d2")), 300.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("7e")), 7.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("7e+")), 7.0);
}

TEST(TimerNumber, ReadsHexadecimalAndOctalLiterals)
{
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&H1F")), 31.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&h1fzz")), 31.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&O17")), 15.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&o18")), 1.0);
    // Up to 16 bits the literal is a signed 16-bit value, beyond that a signed 32-bit one.
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&HFFFF")), -1.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&H8000")), -32768.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&H10000")), 65536.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&HFFFFFFFF")), -1.0);
    EXPECT_EQ(readLeadingNumber(QStringLiteral("&H")), 0.0);
    EXPECT_EQ(failureCodeOf([] { readLeadingNumber(QStringLiteral("&H100000000")); }), 6);
    EXPECT_FALSE(readLeadingNumber(QStringLiteral("&X1")).has_value());
}

TEST(TimerNumber, RoundsHalfToEven)
{
    EXPECT_EQ(roundToInt16(2.5), 2);
    EXPECT_EQ(roundToInt16(3.5), 4);
    EXPECT_EQ(roundToInt16(-2.5), -2);
    EXPECT_EQ(roundToInt16(2.51), 3);
    EXPECT_EQ(roundToInt16(32767.4), 32767);
    EXPECT_EQ(roundToInt16(-32768.5), -32768);
}

TEST(TimerNumber, OverflowIsFailureSix)
{
    EXPECT_EQ(failureCodeOf([] { roundToInt16(32767.5); }), 6);
    EXPECT_EQ(failureCodeOf([] { roundToInt16(-32768.6); }), 6);
    EXPECT_EQ(failureCodeOf([] { timerSeconds(QStringLiteral("40000")); }), 6);
    EXPECT_EQ(failureCodeOf([] { timerSeconds(QStringLiteral("1e400")); }), 6);
}

TEST(TimerNumber, TimerValuesBelowOneMeanSixtySeconds)
{
    EXPECT_EQ(timerSeconds(QStringLiteral("30")), 30);
    EXPECT_EQ(timerSeconds(QStringLiteral("2.5")), 2);
    EXPECT_EQ(timerSeconds(QStringLiteral("0")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("-5")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("abc")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("0.4")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("&HFFFF")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("0.5")), 60);
    EXPECT_EQ(timerSeconds(QStringLiteral("1.5")), 2);
}
