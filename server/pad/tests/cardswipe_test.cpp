#include <gtest/gtest.h>

#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "fakeeventpump.h"
#include "fakepaddriver.h"
#include "pad/cardswipe.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "padtestsupport.h"
#include "recordingreplies.h"

namespace {

const QString kTrack1 = QStringLiteral("%B4111111111111111^DOE/JANE^29121010000000000000?");
const QString kTrack2 = QStringLiteral(";4111111111111111=29121010000000000000?");
const QString kNul = QString(QChar(0));

class CardSwipeTest : public ::testing::Test
{
protected:
    CardSwipeTest()
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Ticked);
        driver.track2Read = {kTrack2, 1};
    }

    int trackReads() const { return driver.count(QStringLiteral("GetVariable(TRACK1)")); }
    const RecordingReplies::Reply& onlyReply() const
    {
        EXPECT_EQ(replies.replies.size(), 1u);
        return replies.replies.front();
    }

    FakePadDriver driver;
    TestLog log;
    LiveSettings settings;
    FixedFileChooser chooser;
    RecordingReplies replies;
    FakeEventPump pump;
    PadTimeout padTimeout;
    PadConnection connection{driver, settings, log.log(), chooser};
    PadVariables variables{driver, log.log()};
    CardSwipe swipe{driver, connection, variables, log.log(), replies, pump, padTimeout};
};

TEST_F(CardSwipeTest, ASixtySecondTimeoutReadsHundredNineteenTimesInVirtualTime)
{
    padTimeout.setSeconds(60);
    swipe.qp6100_get_swipe();

    EXPECT_EQ(pump.steps(), 120);
    EXPECT_EQ(pump.elapsedMs(), 60000);
    EXPECT_EQ(trackReads(), 119);
    // An empty track 1 with a good status still reads track 2, whose answer is ignored.
    EXPECT_EQ(driver.count(QStringLiteral("GetVariable(TRACK2)")), 119);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
    EXPECT_FALSE(onlyReply().skipDebug);
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("qp6100_get_swipe: timeout=[60]"),
                                          QStringLiteral("setVar: TRACK1 Successful"),
                                          QStringLiteral("setVar: TRACK2 Successful"),
                                          QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")}));
}

TEST_F(CardSwipeTest, TracksAreEmptiedAndTheSwipeFormShownBeforeTheWait)
{
    padTimeout.setSeconds(1);
    swipe.qp6100_get_swipe();
    EXPECT_EQ(driver.calls.mid(0, 3), (QStringList{QStringLiteral("SetVariable(TRACK1)"),
                                                   QStringLiteral("SetVariable(TRACK2)"),
                                                   QStringLiteral("ShowForm(padStart)")}));
    // Both track writes empty the variable.
    EXPECT_EQ(driver.sets.at(0).bytes, QByteArray(2, '\0'));
    EXPECT_EQ(driver.sets.at(1).bytes, QByteArray(2, '\0'));
    // A limit of one second: one read after half a second, the time-out after the second step.
    EXPECT_EQ(trackReads(), 1);
    EXPECT_EQ(pump.steps(), 2);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
}

TEST_F(CardSwipeTest, ZeroTimeoutBecomesSixtyAndStays)
{
    swipe.qp6100_get_swipe();
    EXPECT_EQ(padTimeout.seconds(), 60);
    EXPECT_EQ(log.entries().value(0), QStringLiteral("qp6100_get_swipe: timeout=[60]"));
    EXPECT_EQ(pump.steps(), 120);
}

TEST_F(CardSwipeTest, CardReadAfterSixNulReadsIsAnsweredAtOnceWithoutLoggingTracks)
{
    padTimeout.setSeconds(30);
    for (int i = 0; i < 6; ++i)
        driver.track1Reads.push_back({kNul, 1});
    driver.track1Reads.push_back({kTrack1, 1});
    swipe.qp6100_get_swipe();

    EXPECT_EQ(trackReads(), 7);
    EXPECT_EQ(pump.elapsedMs(), 3500);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><SWIPE><TRACK1>") + kTrack1 +
                                   QStringLiteral("</TRACK1><TRACK2>") + kTrack2 +
                                   QStringLiteral("</TRACK2></SWIPE></QP6100>"));
    EXPECT_TRUE(onlyReply().skipDebug);
    // No form after a card read: the pad keeps what its script shows.
    EXPECT_EQ(driver.calls.last(), QStringLiteral("GetVariable(TRACK2)"));
    EXPECT_FALSE(log.text().contains(QStringLiteral("4111")));
}

TEST_F(CardSwipeTest, EmptyTextCountsAsNoCardLikeNul)
{
    padTimeout.setSeconds(5);
    driver.track1Reads = {{QString(), 1}, {kNul, 0}, {QStringLiteral("x"), 1}};
    swipe.qp6100_get_swipe();
    EXPECT_EQ(trackReads(), 3);
    EXPECT_TRUE(onlyReply().xml.contains(QStringLiteral("<TRACK1>x</TRACK1>")));
}

TEST_F(CardSwipeTest, StatusZeroWithTextIsACardWithAnEmptyTrack2)
{
    padTimeout.setSeconds(10);
    driver.track1Reads = {{kTrack1, 0}};
    swipe.qp6100_get_swipe();
    EXPECT_EQ(driver.count(QStringLiteral("GetVariable(TRACK2)")), 0);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><SWIPE><TRACK1>") + kTrack1 +
                                   QStringLiteral("</TRACK1><TRACK2></TRACK2></SWIPE></QP6100>"));
}

TEST_F(CardSwipeTest, ALimitChangedDuringTheWaitIsReadAtTheNextStep)
{
    padTimeout.setSeconds(60);
    // A request served during the fourth step sets TIMER=3.
    pump.onStep = [this](int step) {
        if (step == 4)
            padTimeout.setSeconds(3);
    };
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pump.steps(), 6);
    EXPECT_EQ(trackReads(), 5);
    EXPECT_EQ(padTimeout.seconds(), 3);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));

    // Lowered below the time already waited: the next step ends the wait.
    replies.replies.clear();
    padTimeout.setSeconds(60);
    pump.onStep = [this](int step) {
        if (step == 10)
            padTimeout.setSeconds(2);
    };
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pump.steps(), 6 + 4);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
}

TEST_F(CardSwipeTest, PendingEventsRunAfterEveryStep)
{
    padTimeout.setSeconds(2);
    int pending = 0;
    pump.onPending = [&pending] { ++pending; };
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pending, 4);
}

TEST_F(CardSwipeTest, NotEnabledAnswersNotSetupWithoutTouchingThePad)
{
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Unticked);
    }
    swipe.qp6100_get_swipe();
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(pump.steps(), 0);
    EXPECT_EQ(padTimeout.seconds(), 0);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><ERROR>QP6100 Not Setup in Varnel Payment "
                                              "Setup</ERROR></QP6100>"));
    EXPECT_FALSE(onlyReply().skipDebug);
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});
}

TEST_F(CardSwipeTest, ADriverFailureEndsTheWaitWithTheErrorReply)
{
    padTimeout.setSeconds(60);
    pump.onStep = [this](int step) {
        if (step == 3)
            driver.throwOn = QStringLiteral("GetVariable:TRACK1");
    };
    driver.throwCode = 13;
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pump.steps(), 3);
    EXPECT_EQ(onlyReply().xml,
              QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error( 13)</ERROR></QP6100>"));
    EXPECT_FALSE(onlyReply().skipDebug);
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_swipe: Error( 13)"));
    EXPECT_EQ(driver.count(QStringLiteral("ShowForm(padWelcome)")), 0);

    // A negative number keeps its sign in place of the blank.
    replies.replies.clear();
    driver.throwOn = QStringLiteral("SetVariable");
    driver.throwCode = -2147;
    swipe.qp6100_get_swipe();
    EXPECT_EQ(onlyReply().xml,
              QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error(-2147)</ERROR></QP6100>"));
}

TEST_F(CardSwipeTest, RefusedFormsAreLoggedAndTheWaitGoesOn)
{
    padTimeout.setSeconds(1);
    driver.showStatus = 0;
    swipe.qp6100_get_swipe();
    const QStringList entries = log.entries();
    EXPECT_TRUE(entries.contains(QStringLiteral("QP6100: Error Displaying padStart")));
    EXPECT_TRUE(entries.contains(QStringLiteral("QP6100: Error Displaying padWelcome")));
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
}

TEST_F(CardSwipeTest, ANestedSwipeDuringTheWaitGetsItsOwnReplyAndTheOuterGoesOn)
{
    padTimeout.setSeconds(4);
    bool nested = false;
    // During the outer wait's second step a second client asks for a swipe, and a card comes.
    pump.onStep = [&](int step) {
        if (step == 2 && !nested) {
            nested = true;
            driver.track1Reads = {{kNul, 1}, {kTrack1, 1}};
            swipe.qp6100_get_swipe();
        }
    };
    swipe.qp6100_get_swipe();
    ASSERT_EQ(replies.replies.size(), 2u);
    EXPECT_TRUE(replies.replies[0].xml.contains(kTrack1));
    EXPECT_TRUE(replies.replies[0].skipDebug);
    EXPECT_EQ(replies.replies[1].xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
    // The outer wait ends at its limit on the clock: the second the nested swipe took counts,
    // 6 steps of its own plus the 2 of the nested one make its 4 seconds.
    EXPECT_EQ(pump.steps(), 8);
}

} // namespace

TEST_F(CardSwipeTest, TheLimitIsTimeOnTheClockAndAClientThatWentAwayEndsTheWait)
{
    // Work nested inside the first step took 20 seconds: a limit of 10 has passed after that
    // one step, not after twenty.
    padTimeout.setSeconds(10);
    pump.onStep = [this](int step) {
        if (step == 1)
            pump.advance(20000);
    };
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pump.steps(), 1);
    EXPECT_EQ(trackReads(), 0);
    EXPECT_EQ(onlyReply().xml, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));

    // The client goes during the third step: no read after it, no reply, the pad back to
    // welcome and one line in the log.
    replies.replies.clear();
    padTimeout.setSeconds(60);
    pump.onStep = [this](int step) {
        if (step == 4)
            replies.gone = true;
    };
    driver.calls.clear();
    swipe.qp6100_get_swipe();
    EXPECT_EQ(pump.steps(), 4);
    EXPECT_EQ(trackReads(), 2);
    EXPECT_TRUE(replies.replies.empty());
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_swipe: client gone"));
}
