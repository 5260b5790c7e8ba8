#include <gtest/gtest.h>

#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "fakepaddriver.h"
#include "fakescheduler.h"
#include "pad/cardswipe.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "padtestsupport.h"

namespace {

const QString kTrack1 = QStringLiteral("%B4111111111111111^DOE/JANE^29121010000000000000?");
const QString kTrack2 = QStringLiteral(";4111111111111111=29121010000000000000?");
const QString kNul = QString(QChar(0));
const QString kTimeout = QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");

// Timers that fire a tenth of their interval early, as a coarse timer may.
class EarlyScheduler final : public Scheduler
{
public:
    explicit EarlyScheduler(FakeScheduler& inner) : m_inner(inner) {}
    qint64 elapsedMs() const override { return m_inner.elapsedMs(); }
    std::unique_ptr<ScheduledCall> callAfter(int milliseconds, std::function<void()> call) override
    {
        return m_inner.callAfter(milliseconds - milliseconds / 10, std::move(call));
    }

private:
    FakeScheduler& m_inner;
};

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
    CardSwipe& newSwipe()
    {
        swipes.push_back(std::make_unique<CardSwipe>(pad));
        return *swipes.back();
    }
    // Runs one swipe to its end.
    const OperationRuns::End& swipeOnce()
    {
        runs.ends.clear();
        runs.run(newSwipe());
        return runs.only();
    }
    qint64 now() const { return scheduler.elapsedMs(); }

    FakePadDriver driver;
    TestLog log;
    LiveSettings settings;
    FixedFileChooser chooser;
    FakeScheduler scheduler;
    HeldScheduler clock{scheduler};
    PadTimeout padTimeout;
    PadConnection connection{driver, settings, log.log(), chooser};
    PadVariables variables{driver, log.log()};
    PadContext pad{driver, connection, variables, log.log(), clock, padTimeout};
    OperationRuns runs{scheduler};
    std::vector<std::unique_ptr<CardSwipe>> swipes;
};

TEST_F(CardSwipeTest, ASixtySecondTimeoutReadsHundredNineteenTimesInVirtualTime)
{
    padTimeout.setSeconds(60);
    const OperationRuns::End& end = swipeOnce();

    EXPECT_EQ(end.atMs, 60000);
    EXPECT_EQ(trackReads(), 119);
    // An empty track 1 with a good status still reads track 2, whose answer is ignored.
    EXPECT_EQ(driver.count(QStringLiteral("GetVariable(TRACK2)")), 119);
    ASSERT_TRUE(end.reply);
    EXPECT_EQ(end.reply->xml, kTimeout);
    EXPECT_FALSE(end.reply->skipDebug);
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("qp6100_get_swipe: timeout=[60]"),
                                          QStringLiteral("setVar: TRACK1 Successful"),
                                          QStringLiteral("setVar: TRACK2 Successful"),
                                          QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")}));
    // Nothing is left behind on the loop once it has ended.
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(CardSwipeTest, StepsNeverComeEarlyEvenWhenTheTimersDo)
{
    // TIMER=1: one read at half a second, the time-out at one second; a card swiped at 0.75 s,
    // which a second read would find, comes too late.
    EarlyScheduler early(scheduler);
    PadContext earlyPad{driver, connection, variables, log.log(), early, padTimeout};
    padTimeout.setSeconds(1);
    driver.track1Reads.push_back({kNul, 1});
    driver.track1Reads.push_back({kTrack1, 1});
    CardSwipe swipe(earlyPad);
    runs.run(swipe);

    EXPECT_EQ(runs.onlyXml(), kTimeout);
    EXPECT_EQ(trackReads(), 1);
    EXPECT_GE(runs.only().atMs, 1000);
    EXPECT_LT(runs.only().atMs, 1100);
}

TEST_F(CardSwipeTest, StartReturnsAtOnceAndThePadIsReadOnlyOnTheLoopsHalfSecondSteps)
{
    padTimeout.setSeconds(1);
    runs.start(newSwipe());
    // Tracks emptied and the swipe form shown before the wait; no read yet.
    EXPECT_EQ(driver.calls, (QStringList{QStringLiteral("SetVariable(TRACK1)"),
                                         QStringLiteral("SetVariable(TRACK2)"),
                                         QStringLiteral("ShowForm(padStart)")}));
    EXPECT_EQ(driver.sets.at(0).bytes, QByteArray(2, '\0'));
    EXPECT_EQ(driver.sets.at(1).bytes, QByteArray(2, '\0'));
    EXPECT_TRUE(runs.ends.empty());
    scheduler.advance(499);
    EXPECT_EQ(trackReads(), 0);
    scheduler.advance(1);
    EXPECT_EQ(trackReads(), 1);
    // A limit of one second: one read after half a second, the time-out at the second step.
    scheduler.runUntilIdle();
    EXPECT_EQ(trackReads(), 1);
    EXPECT_EQ(runs.only().atMs, 1000);
    EXPECT_EQ(runs.onlyXml(), kTimeout);
}

TEST_F(CardSwipeTest, ZeroTimeoutBecomesSixtyAndStays)
{
    EXPECT_EQ(swipeOnce().atMs, 60000);
    EXPECT_EQ(padTimeout.seconds(), 60);
    EXPECT_EQ(log.entries().value(0), QStringLiteral("qp6100_get_swipe: timeout=[60]"));
}

TEST_F(CardSwipeTest, CardReadAfterSixNulReadsIsAnsweredAtOnceWithoutLoggingTracks)
{
    padTimeout.setSeconds(30);
    for (int i = 0; i < 6; ++i)
        driver.track1Reads.push_back({kNul, 1});
    driver.track1Reads.push_back({kTrack1, 1});
    const OperationRuns::End& end = swipeOnce();

    EXPECT_EQ(trackReads(), 7);
    EXPECT_EQ(end.atMs, 3500);
    ASSERT_TRUE(end.reply);
    EXPECT_EQ(end.reply->xml, QStringLiteral("<QP6100><SWIPE><TRACK1>") + kTrack1 +
                                  QStringLiteral("</TRACK1><TRACK2>") + kTrack2 +
                                  QStringLiteral("</TRACK2></SWIPE></QP6100>"));
    EXPECT_TRUE(end.reply->skipDebug);
    // No form after a card read: the pad keeps what its script shows.
    EXPECT_EQ(driver.calls.last(), QStringLiteral("GetVariable(TRACK2)"));
    EXPECT_FALSE(log.text().contains(QStringLiteral("4111")));
}

TEST_F(CardSwipeTest, EmptyTextCountsAsNoCardLikeNul)
{
    padTimeout.setSeconds(5);
    driver.track1Reads = {{QString(), 1}, {kNul, 0}, {QStringLiteral("x"), 1}};
    swipeOnce();
    EXPECT_EQ(trackReads(), 3);
    EXPECT_TRUE(runs.onlyXml().contains(QStringLiteral("<TRACK1>x</TRACK1>")));
}

TEST_F(CardSwipeTest, StatusZeroWithTextIsACardWithTheTrack2LastRead)
{
    padTimeout.setSeconds(10);
    driver.track1Reads = {{kTrack1, 0}};
    swipeOnce();
    EXPECT_EQ(driver.count(QStringLiteral("GetVariable(TRACK2)")), 0);
    EXPECT_EQ(runs.onlyXml(), QStringLiteral("<QP6100><SWIPE><TRACK1>") + kTrack1 +
                                  QStringLiteral("</TRACK1><TRACK2></TRACK2></SWIPE></QP6100>"));

    // Track 2 read at an earlier step stays with the card read later with status 0.
    driver.track1Reads = {{kNul, 1}, {kTrack1, 0}};
    swipeOnce();
    EXPECT_EQ(runs.onlyXml(), QStringLiteral("<QP6100><SWIPE><TRACK1>") + kTrack1 +
                                  QStringLiteral("</TRACK1><TRACK2>") + kTrack2 +
                                  QStringLiteral("</TRACK2></SWIPE></QP6100>"));
}

TEST_F(CardSwipeTest, ALimitChangedDuringTheWaitIsReadAtTheNextStep)
{
    padTimeout.setSeconds(60);
    // A bare TIMER=3 from another client, served between the third and fourth steps.
    runs.at(1750, [this] { padTimeout.setSeconds(3); });
    EXPECT_EQ(swipeOnce().atMs, 3000);
    EXPECT_EQ(trackReads(), 5);
    EXPECT_EQ(padTimeout.seconds(), 3);
    EXPECT_EQ(runs.onlyXml(), kTimeout);

    // Lowered below the time already waited: the next step ends the wait.
    const qint64 started = now();
    padTimeout.setSeconds(60);
    runs.at(started + 1750, [this] { padTimeout.setSeconds(1); });
    EXPECT_EQ(swipeOnce().atMs - started, 2000);
    EXPECT_EQ(runs.onlyXml(), kTimeout);
}

TEST_F(CardSwipeTest, NotEnabledAnswersNotSetupBeforeStartReturnsWithoutTouchingThePad)
{
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Unticked);
    }
    runs.start(newSwipe());
    ASSERT_EQ(runs.ends.size(), 1u);
    EXPECT_EQ(scheduler.pending(), 0u);
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(padTimeout.seconds(), 0);
    EXPECT_EQ(runs.onlyXml(), QStringLiteral("<QP6100><ERROR>QP6100 Not Setup in Varnel Payment "
                                             "Setup</ERROR></QP6100>"));
    EXPECT_FALSE(runs.only().reply->skipDebug);
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});
}

TEST_F(CardSwipeTest, ADriverFailureEndsTheWaitWithTheErrorReply)
{
    padTimeout.setSeconds(60);
    driver.throwCode = 13;
    runs.at(1250, [this] { driver.throwOn = QStringLiteral("GetVariable:TRACK1"); });
    const OperationRuns::End& end = swipeOnce();
    EXPECT_EQ(end.atMs, 1500);
    EXPECT_EQ(runs.onlyXml(),
              QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error( 13)</ERROR></QP6100>"));
    EXPECT_FALSE(end.reply->skipDebug);
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_swipe: Error( 13)"));
    EXPECT_EQ(driver.count(QStringLiteral("ShowForm(padWelcome)")), 0);
    EXPECT_EQ(scheduler.pending(), 0u);

    // Failing before the wait: answered before start returns. A negative number keeps its
    // sign in place of the blank.
    runs.ends.clear();
    driver.throwOn = QStringLiteral("SetVariable");
    driver.throwCode = -2147;
    runs.start(newSwipe());
    EXPECT_EQ(runs.onlyXml(),
              QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error(-2147)</ERROR></QP6100>"));
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(CardSwipeTest, RefusedFormsAreLoggedAndTheWaitGoesOn)
{
    padTimeout.setSeconds(1);
    driver.showStatus = 0;
    swipeOnce();
    const QStringList entries = log.entries();
    EXPECT_TRUE(entries.contains(QStringLiteral("QP6100: Error Displaying padStart")));
    EXPECT_TRUE(entries.contains(QStringLiteral("QP6100: Error Displaying padWelcome")));
    EXPECT_EQ(runs.onlyXml(), kTimeout);
}

TEST_F(CardSwipeTest, ASecondSwipeDuringTheWaitIsAnsweredOnItsOwnAndTheFirstKeepsItsLimit)
{
    padTimeout.setSeconds(4);
    CardSwipe& first = newSwipe();
    CardSwipe& second = newSwipe();
    runs.start(first);
    // Another swipe starts 1.2 s in, and a card comes: the next read after that is the first
    // swipe's (1.5 s, nothing yet), then the second's (1.7 s, the card).
    runs.at(1200, [&] {
        driver.track1Reads = {{kNul, 1}, {kTrack1, 1}};
        runs.start(second);
    });
    scheduler.runUntilIdle();
    ASSERT_EQ(runs.ends.size(), 2u);
    // The card's reply goes out at once, without waiting for the first swipe to end.
    EXPECT_EQ(runs.ends[0].atMs, 1700);
    ASSERT_TRUE(runs.ends[0].reply);
    EXPECT_TRUE(runs.ends[0].reply->xml.contains(kTrack1));
    EXPECT_TRUE(runs.ends[0].reply->skipDebug);
    // The first ends at its own limit on the clock.
    EXPECT_EQ(runs.ends[1].atMs, 4000);
    ASSERT_TRUE(runs.ends[1].reply);
    EXPECT_EQ(runs.ends[1].reply->xml, kTimeout);
}

TEST_F(CardSwipeTest, TheLimitIsTimeOnTheClockAndAClientThatWentAwayEndsTheWait)
{
    // The loop was held up for 20 seconds before the first step: a limit of 10 has passed
    // after that one step, not after twenty.
    padTimeout.setSeconds(10);
    runs.at(400, [this] { clock.heldMs += 20000; });
    EXPECT_EQ(swipeOnce().atMs, 500);
    EXPECT_EQ(trackReads(), 0);
    EXPECT_EQ(runs.onlyXml(), kTimeout);

    // The client goes before the third step: at once no read after it, no reply, the pad back
    // to welcome and one line in the log.
    padTimeout.setSeconds(60);
    driver.calls.clear();
    const qint64 started = now();
    runs.at(started + 1400, [this] { swipes.back()->clientGone(); });
    const OperationRuns::End& end = swipeOnce();
    EXPECT_EQ(end.atMs - started, 1400);
    EXPECT_FALSE(end.reply);
    EXPECT_EQ(trackReads(), 2);
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_swipe: client gone"));
    EXPECT_EQ(scheduler.pending(), 0u);
}

TEST_F(CardSwipeTest, AnAbortDuringTheWaitShowsWelcomeAtOnceAndTheWaitGoesOn)
{
    padTimeout.setSeconds(3);
    runs.at(1250, [this] { connection.pad_welcome(); });
    runs.start(newSwipe());
    scheduler.advance(1250);
    // Shown by the ABORT itself, not at the swipe's next step.
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_TRUE(runs.ends.empty());
    // A card that comes afterwards is still taken by the waiting swipe.
    driver.track1Reads = {{kTrack1, 1}};
    scheduler.runUntilIdle();
    EXPECT_EQ(runs.only().atMs, 1500);
    EXPECT_TRUE(runs.onlyXml().contains(kTrack1));
}

TEST_F(CardSwipeTest, ClosingTheProgramEndsTheWaitAtOnceAsAnInterruptedOne)
{
    padTimeout.setSeconds(60);
    CardSwipe& swipe = newSwipe();
    runs.start(swipe);
    scheduler.advance(1200);
    driver.calls.clear();
    swipe.close();
    // Answered before close() returns, the pad left as a failure leaves it.
    EXPECT_EQ(runs.onlyXml(),
              QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error( 18)</ERROR></QP6100>"));
    EXPECT_FALSE(runs.only().reply->skipDebug);
    EXPECT_TRUE(driver.calls.isEmpty());
    scheduler.runUntilIdle();
    EXPECT_EQ(runs.ends.size(), 1u);
    EXPECT_EQ(trackReads(), 0);
    EXPECT_EQ(scheduler.pending(), 0u);
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_swipe: Error( 18)"));

    // Closing after the end changes nothing.
    runs.ends.clear();
    runs.run(newSwipe());
    const QStringList before = log.entries();
    swipes.back()->close();
    EXPECT_EQ(log.entries(), before);
    EXPECT_EQ(before.last(), QStringLiteral("qp6100_get_swipe: Card Swipe Timeout"));
    EXPECT_EQ(runs.onlyXml(), kTimeout);
}

} // namespace
