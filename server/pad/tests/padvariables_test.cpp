#include <gtest/gtest.h>

#include "fakepaddriver.h"
#include "pad/padvariables.h"
#include "padtestsupport.h"

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(text);
}

class PadVariablesTest : public ::testing::Test
{
protected:
    FakePadDriver driver;
    TestLog log;
    PadVariables variables{driver, log.log()};
};

TEST_F(PadVariablesTest, TotalGoesAsUtf16WithTerminatorAndCount)
{
    variables.setVar(QStringLiteral("12.50"));
    ASSERT_EQ(driver.sets.size(), 1u);
    EXPECT_EQ(driver.sets[0].name, QStringLiteral("TOTAL"));
    EXPECT_EQ(driver.sets[0].bytes, hex("310032002e00350030000000"));
    EXPECT_EQ(driver.sets[0].count, 12);
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("setVar: TOTAL"),
                                          QStringLiteral("setVar: TOTAL Successful")}));
}

TEST_F(PadVariablesTest, EmptyTextAndOneNulBothWriteTwoZeroBytes)
{
    variables.setVar(QString());
    variables.set_fullname_var(QString(QChar(0)));
    ASSERT_EQ(driver.sets.size(), 2u);
    for (const auto& set : driver.sets) {
        EXPECT_EQ(set.bytes, hex("0000"));
        EXPECT_EQ(set.count, 2);
    }
}

TEST_F(PadVariablesTest, CharactersBeyondLatinKeepTheirTwoBytes)
{
    // "é" and the euro sign: low byte first.
    variables.set_account_var(QStringLiteral("\u00e9\u20ac"));
    ASSERT_EQ(driver.sets.size(), 1u);
    EXPECT_EQ(driver.sets[0].bytes, hex("e900ac200000"));
    EXPECT_EQ(driver.sets[0].count, 6);
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("setVar: ACCOUNT Successful")});
}

TEST_F(PadVariablesTest, ClearWritesAllSixInOrderAndLogsEachOutcome)
{
    variables.clear_padVars();
    QStringList names;
    for (const auto& set : driver.sets) {
        names.append(set.name);
        EXPECT_EQ(set.count, 2);
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("TOTAL"), QStringLiteral("TRACK1"),
                                  QStringLiteral("TRACK2"), QStringLiteral("SIGCOMP"),
                                  QStringLiteral("FULLNAME"), QStringLiteral("ACCOUNT")}));
    EXPECT_EQ(log.entries(),
              (QStringList{QStringLiteral("clear_padVars: start"), QStringLiteral("setVar: TOTAL"),
                           QStringLiteral("setVar: TOTAL Successful"),
                           QStringLiteral("setVar: TRACK1 Successful"),
                           QStringLiteral("setVar: TRACK2 Successful"),
                           QStringLiteral("setVar: SIGCOMP flush Successful"),
                           QStringLiteral("setVar: FULLNAME Successful"),
                           QStringLiteral("setVar: ACCOUNT Successful"),
                           QStringLiteral("clear_padVars: end")}));
}

TEST_F(PadVariablesTest, RefusedWritesAreLoggedAsFailedAndTheSequenceGoesOn)
{
    driver.setStatus = 0;
    variables.clear_padVars();
    EXPECT_EQ(driver.sets.size(), 6u);
    EXPECT_EQ(
        log.entries(),
        (QStringList{
            QStringLiteral("clear_padVars: start"), QStringLiteral("setVar: TOTAL"),
            QStringLiteral("setVar: TOTAL Failed"), QStringLiteral("setVar: TRACK1 Failed"),
            QStringLiteral("setVar: TRACK2 Failed"), QStringLiteral("setVar: SIGCOMP flush Failed"),
            QStringLiteral("setVar: FULLNAME Failed"), QStringLiteral("setVar: ACCOUNT Failed"),
            QStringLiteral("clear_padVars: end")}));
}

TEST_F(PadVariablesTest, AnyStatusButOneIsFailed)
{
    driver.setStatus = 2;
    variables.flush_sigcomp();
    driver.setStatus = -1;
    variables.set_track_vars();
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("setVar: SIGCOMP flush Failed"),
                                          QStringLiteral("setVar: TRACK1 Failed"),
                                          QStringLiteral("setVar: TRACK2 Failed")}));
}

TEST_F(PadVariablesTest, LongestValueFitsAndOneMoreOverflowsBeforeAnyDriverCall)
{
    variables.setVar(QString(PadVariables::kMaxValueLength, QLatin1Char('9')));
    ASSERT_EQ(driver.sets.size(), 1u);
    EXPECT_EQ(driver.sets[0].count, 32766);
    EXPECT_EQ(driver.sets[0].bytes.size(), 32766);

    driver.calls.clear();
    try {
        variables.set_fullname_var(QString(PadVariables::kMaxValueLength + 1, QLatin1Char('x')));
        FAIL() << "no overflow";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::Overflow);
    }
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_FALSE(log.entries().contains(QStringLiteral("setVar: FULLNAME Failed")));
}

TEST_F(PadVariablesTest, ANulInsideTheValueIsWrittenWithEverythingAfterIt)
{
    variables.setVar(QStringLiteral("12") + QChar(0) + QStringLiteral("50"));
    ASSERT_EQ(driver.sets.size(), 1u);
    EXPECT_EQ(driver.sets[0].bytes, hex("310032000000350030000000"));
    EXPECT_EQ(driver.sets[0].count, 12);

    // A leading NUL is not the empty value when more text follows.
    variables.set_account_var(QChar(0) + QStringLiteral("7"));
    ASSERT_EQ(driver.sets.size(), 2u);
    EXPECT_EQ(driver.sets[1].bytes, hex("000037000000"));
    EXPECT_EQ(driver.sets[1].count, 6);
}

TEST_F(PadVariablesTest, TheLengthLimitCountsTheWholeValueNulsIncluded)
{
    // Cut at its NUL the value would be empty; whole it is far too long.
    try {
        variables.setVar(QChar(0) + QString(20000, QLatin1Char('9')));
        FAIL() << "no overflow";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::Overflow);
    }
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("setVar: TOTAL")});

    // One NUL and the rest of the longest value still fit, and go in full.
    variables.setVar(QChar(0) + QString(PadVariables::kMaxValueLength - 1, QLatin1Char('9')));
    ASSERT_EQ(driver.sets.size(), 1u);
    EXPECT_EQ(driver.sets[0].count, 32766);
    EXPECT_EQ(driver.sets[0].bytes.left(4), hex("00003900"));
    EXPECT_EQ(driver.sets[0].bytes.right(4), hex("39000000"));
}

TEST_F(PadVariablesTest, DriverFailureEndsTheClearingSequence)
{
    driver.throwOn = QStringLiteral("SetVariable:TRACK2");
    EXPECT_THROW(variables.clear_padVars(), Failure);
    EXPECT_EQ(driver.sets.size(), 2u);
    const QStringList entries = log.entries();
    EXPECT_EQ(entries.last(), QStringLiteral("setVar: TRACK1 Successful"));
    EXPECT_FALSE(entries.contains(QStringLiteral("clear_padVars: end")));
}

} // namespace
