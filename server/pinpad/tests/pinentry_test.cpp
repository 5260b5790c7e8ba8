#include "pinpad/pinentry.h"

#include <gtest/gtest.h>

#include <optional>

#include "core/livesettings.h"
#include "fakepinpad.h"
#include "fakescheduler.h"
#include "pinpadtestsupport.h"
#include "request/replyformatter.h"
#include "settings/settingsfile.h"

namespace {

const QString kStart = QStringLiteral("pinPad1000se_get_pin: start");
const QString kPortLine = QStringLiteral("pinPad1000se_get_pin: port=[5] baud=[9600] databits=[8]");
const QString kInitialized = QStringLiteral("pinPad1000se_get_pin: initialized");
const QString kNotEnabled = QStringLiteral(
    "<1000SE><ERROR>PinPAD 1000 SE not Enabled in Varnel Payment Setup</ERROR></1000SE>");
const QString kMissing = QStringLiteral(
    "<1000SE><ERROR>PinPAD Requires Credit Card # and Transaction Total</ERROR></1000SE>");
const QString kPadFailed = QStringLiteral("<1000SE><ERROR>Error Initializing Pad</ERROR></1000SE>");
const QString kCancelled = QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>");
const QString kCustomerCancelled = QStringLiteral("pinPad1000se_get_pin: customer cancelled");
const QString kCardTooLongText =
    QStringLiteral("PinPAD takes a Credit Card # of at most 19 digits");
const QString kCardTooLong =
    QStringLiteral("<1000SE><ERROR>") + kCardTooLongText + QStringLiteral("</ERROR></1000SE>");
const QString kBlock = QStringLiteral("1B9C1845EB993A7A");
const QString kKsn = QStringLiteral("FFFF9876543210E00001");
const QString kEntered = QStringLiteral("<1000SE><PINBLOCK>") + kBlock +
                         QStringLiteral("</PINBLOCK><KSN>") + kKsn +
                         QStringLiteral("</KSN></1000SE>");
// The pad opened with the fields of the fixture.
const QStringList kOpened{QStringLiteral("open port=5 baud=9600 bits=8 parity=E")};
QString prompt(const QString& card, int limit = 120)
{
    return QStringLiteral("prompt card=%1 amount=12.34 limit=%2").arg(card).arg(limit);
}

struct Case
{
    const char* name;
    int box;
    QString card;
    QString total;
    std::function<void(FakePinPad&)> arrange;
    QString reply;
    bool skipDebug;
    // What reached the pad.
    QStringList effects;
    QStringList log;
};

// One PIN entry with its fields set as a till's settings would have them; the operation's
// replies as it delivered them.
class Harness
{
public:
    explicit Harness(int box = LiveSettings::Ticked, int pinTimeout = 120)
        : entry(pad, settings, log.log(), pinTimeout)
    {
        settings.setChk1000SEDevice(box);
        settings.setCbo1000SECommPort(QStringLiteral("5"));
        settings.setCbo1000SEBaudRate(QStringLiteral("9600"));
        settings.setTxt1000SEDataBits(QStringLiteral("8"));
        settings.setTxt1000SEParity(QStringLiteral("E"));
    }
    // Starts a request and keeps its operation; the replies come in `finished`.
    void start(const QString& card, const QString& total, std::optional<int> timer = {})
    {
        operation = entry.pinPad1000se_get_pin(PinRequest{card, total, timer});
        operation->start([this](const Outcome& outcome) { finished.push_back(replyFor(outcome)); });
    }

    PinPadTestLog log;
    LiveSettings settings;
    FakeScheduler scheduler;
    FakePinPad pad{scheduler};
    PinEntry entry;
    std::unique_ptr<Operation> operation;
    std::vector<std::optional<Reply>> finished;
};

} // namespace

TEST(PinEntry, RequestFollowsTheRulesForEveryCase)
{
    const QString card = QStringLiteral("4012345678909");
    const QString total = QStringLiteral("12.34");
    auto entered = [](FakePinPad& pad) {
        pad.pinBlock = kBlock;
        pad.ksn = kKsn;
    };
    const QStringList enteredCalls = kOpened + QStringList{prompt(card), QStringLiteral("close")};
    const std::vector<Case> cases{
        {"box unticked, values missing: the device is not touched",
         LiveSettings::Unticked,
         {},
         {},
         {},
         kNotEnabled,
         false,
         {},
         {kStart, QStringLiteral("1000SE: Device is Not Enabled")}},
        {"box greyed counts as not enabled",
         LiveSettings::Greyed,
         card,
         total,
         {},
         kNotEnabled,
         false,
         {},
         {kStart, QStringLiteral("1000SE: Device is Not Enabled")}},
        {"card number empty", LiveSettings::Ticked, {}, total, {}, kMissing, false, {}, {kStart}},
        {"total empty", LiveSettings::Ticked, card, {}, {}, kMissing, false, {}, {kStart}},
        {"PIN entered, blanks around card and total removed",
         LiveSettings::Ticked,
         QStringLiteral("  4012345678909 "),
         QStringLiteral(" 12.34  "),
         entered,
         kEntered,
         true,
         enteredCalls,
         {kStart, kPortLine, kInitialized}},
        {"card of blanks only passes the test and is set empty",
         LiveSettings::Ticked,
         QStringLiteral("   "),
         total,
         {},
         kCancelled,
         true,
         kOpened + QStringList{prompt({}), QStringLiteral("close")},
         {kStart, kPortLine, kInitialized, kCustomerCancelled}},
        {"cancelled: Ksn still read, pad still closed",
         LiveSettings::Ticked,
         card,
         total,
         {},
         kCancelled,
         true,
         enteredCalls,
         {kStart, kPortLine, kInitialized, kCustomerCancelled}},
        {"timed out: the same reply, the log says why",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) { pad.cancelReason = QStringLiteral("no answer in 60 s"); },
         kCancelled,
         true,
         enteredCalls,
         {kStart, kPortLine, kInitialized,
          QStringLiteral("pinPad1000se_get_pin: no answer in 60 s")}},
        {"card number longer than 19 digits (blanks around it do not count): refused untouched",
         LiveSettings::Ticked,
         QStringLiteral(" 40123456789012345678 "),
         total,
         {},
         kCardTooLong,
         false,
         {},
         {kStart, QStringLiteral("pinPad1000se_get_pin: ") + kCardTooLongText}},
        {"19 digits are taken",
         LiveSettings::Ticked,
         QStringLiteral(" 4012345678901234567 "),
         total,
         {},
         kCancelled,
         true,
         kOpened +
             QStringList{prompt(QStringLiteral("4012345678901234567")), QStringLiteral("close")},
         {kStart, kPortLine, kInitialized, kCustomerCancelled}},
        {"total longer than one display packet: refused untouched",
         LiveSettings::Ticked,
         card,
         QString(248, QLatin1Char('1')),
         {},
         QStringLiteral("<1000SE><ERROR>PinPAD takes a Transaction Total of at most 247 "
                        "characters</ERROR></1000SE>"),
         false,
         {},
         {kStart, QStringLiteral("pinPad1000se_get_pin: PinPAD takes a Transaction Total of at "
                                 "most 247 characters")}},
        {"OpenPad false: error code and sentence logged, pad closed",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) {
             pad.opens = false;
             pad.errorCode = 5;
             pad.errorDescription =
                 QStringLiteral("Cannot open COM5 (/dev/ttyS4): no such device.");
         },
         kPadFailed,
         false,
         kOpened + QStringList{QStringLiteral("close")},
         {kStart, kPortLine,
          QStringLiteral("pinPad1000se_get_pin: pinpadError: code=[ 5] desc=[Cannot open COM5 "
                         "(/dev/ttyS4): no such device.]")}},
        {"a negative error code keeps its sign",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) {
             pad.opens = false;
             pad.errorCode = -3;
         },
         kPadFailed,
         false,
         kOpened + QStringList{QStringLiteral("close")},
         {kStart, kPortLine,
          QStringLiteral("pinPad1000se_get_pin: pinpadError: code=[-3] desc=[]")}},
        {"OpenPad raises 438: error reply, pad not closed",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) { pad.failures.insert(QStringLiteral("OpenPad"), 438); },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 438)</ERROR></1000SE>"),
         false,
         {},
         {kStart, kPortLine, QStringLiteral("pinPad1000se_get_pin: Error( 438)")}},
        {"GetPinBlock ends with 68: error reply, Ksn and ClosePad not used",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) { pad.failures.insert(QStringLiteral("GetPinBlock"), 68); },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 68)</ERROR></1000SE>"),
         false,
         kOpened + QStringList{prompt(card)},
         {kStart, kPortLine, kInitialized, QStringLiteral("pinPad1000se_get_pin: Error( 68)")}},
        {"the line hung up during the wait: the words, then the number; an error, not a cancel",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) {
             pad.pinMs = 30000;
             pad.failures.insert(QStringLiteral("GetPinBlock"), 57);
             pad.failureDescription = QStringLiteral("The PIN pad on COM5 (/dev/ttyS4) was lost.");
         },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 57)</ERROR></1000SE>"),
         false,
         kOpened + QStringList{prompt(card)},
         {kStart, kPortLine, kInitialized,
          QStringLiteral("pinPad1000se_get_pin: The PIN pad on COM5 (/dev/ttyS4) was lost."),
          QStringLiteral("pinPad1000se_get_pin: Error( 57)")}},
        {"Ksn raises 13 after the PIN came: error reply, pad not closed",
         LiveSettings::Ticked,
         card,
         total,
         [&entered](FakePinPad& pad) {
             entered(pad);
             pad.failures.insert(QStringLiteral("Ksn"), 13);
         },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 13)</ERROR></1000SE>"),
         false,
         kOpened + QStringList{prompt(card)},
         {kStart, kPortLine, kInitialized, QStringLiteral("pinPad1000se_get_pin: Error( 13)")}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h(c.box);
        h.pad.openMs = 1000;
        if (c.arrange)
            c.arrange(h.pad);

        h.start(c.card, c.total);
        h.scheduler.runUntilIdle();

        ASSERT_EQ(h.finished.size(), 1u);
        ASSERT_TRUE(h.finished.front().has_value());
        EXPECT_EQ(h.finished.front()->xml, c.reply);
        EXPECT_EQ(h.finished.front()->skipDebug, c.skipDebug);
        EXPECT_EQ(h.pad.effects, c.effects);
        EXPECT_EQ(h.log.entries(), c.log);
    }
}

TEST(PinEntry, EveryRequestSetsTheFieldsAsTheyAreNow)
{
    Harness h;
    h.settings.setCbo1000SECommPort(QStringLiteral("/dev/ttyUSB0"));
    h.settings.setCbo1000SEBaudRate({});
    h.settings.setTxt1000SEDataBits({});
    h.settings.setTxt1000SEParity({});
    h.start(QStringLiteral("41"), QStringLiteral("1"));
    h.scheduler.runUntilIdle();
    // A changed Baud Rate field, not saved, reaches the next request.
    h.settings.setCbo1000SEBaudRate(QStringLiteral("4800"));
    h.pad.effects.clear();
    h.start(QStringLiteral("41"), QStringLiteral("1"));
    h.scheduler.runUntilIdle();
    EXPECT_EQ(h.finished.size(), 2u);
    EXPECT_EQ(h.pad.effects.value(0),
              QStringLiteral("open port=/dev/ttyUSB0 baud=4800 bits= parity="));
    EXPECT_TRUE(h.log.entries().contains(
        QStringLiteral("pinPad1000se_get_pin: port=[/dev/ttyUSB0] baud=[4800] databits=[]")));
}

TEST(PinEntry, TheWaitIsTheRequestsOwnTimerElseThePinTimeoutNeverAnotherRequests)
{
    struct Case
    {
        const char* name;
        QByteArray settingsLine; // the [1000SE] PinTimeout line of the settings file
        std::optional<int> timer;
        int expected;
    };
    const std::vector<Case> cases{
        {"no TIMER, no PinTimeout: 120 s", "", std::nullopt, 120},
        {"no TIMER: the PinTimeout", "PinTimeout=45\r\n", std::nullopt, 45},
        {"the request's TIMER wins over the PinTimeout", "PinTimeout=45\r\n", 30, 30},
        {"a TIMER longer than the PinTimeout", "PinTimeout=45\r\n", 300, 300},
        {"a TIMER of 1 s is taken as it is", "", 1, 1},
        {"a TIMER below 1 is no limit of its own", "PinTimeout=45\r\n", 0, 45},
        {"PinTimeout below 10: 120 s", "PinTimeout=9\r\n", std::nullopt, 120},
        {"PinTimeout above 3600: 120 s", "PinTimeout=3601\r\n", std::nullopt, 120},
        {"PinTimeout not a number: 120 s", "PinTimeout=soon\r\n", std::nullopt, 120},
        {"a bad PinTimeout does not stop the TIMER", "PinTimeout=2.5\r\n", 20, 20},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PinPadTestLog settingsLog;
        const QString path = settingsLog.folder() + QStringLiteral("/varnelpayment.ini");
        TestFiles::writeAll(path, "[1000SE]\r\n1000SEDevice=1\r\n" + c.settingsLine);
        const int pinTimeout = SettingsFile::read(path).pinPad.pinTimeoutSeconds;

        Harness h(LiveSettings::Ticked, pinTimeout);
        h.pad.pinMs = 5000;
        // Another till's request with a TIMER of its own runs first, and ends.
        h.start(QStringLiteral("41"), QStringLiteral("1"), 7);
        h.scheduler.runUntilIdle();
        h.pad.effects.clear();

        h.start(QStringLiteral("4012345678909"), QStringLiteral("12.34"), c.timer);
        h.scheduler.runUntilIdle();

        EXPECT_EQ(h.pad.effects.filter(QStringLiteral(" limit=")),
                  QStringList{prompt(QStringLiteral("4012345678909"), c.expected)});
        EXPECT_EQ(h.finished.size(), 2u);
    }
}

TEST(PinEntry, AClientThatGoesAwayGetsNoReplyAndThePadIsStillClosed)
{
    struct Case
    {
        const char* name;
        // When the client goes, in ms after the start; the pad answers after 3 s.
        int goneAtMs;
        QString pinBlock;
        bool replied;
    };
    const std::vector<Case> cases{
        {"gone while the pad opens", 500, {}, false},
        {"gone while the customer keys the PIN", 2000, {}, false},
        {"gone, though the PIN came at the same step", 2000, kBlock, false},
        {"still there when the pad answers", 10000, kBlock, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.pad.openMs = 1000;
        h.pad.pinMs = 2000;
        h.pad.pinBlock = c.pinBlock;
        h.pad.ksn = kKsn;
        h.pad.honoursCancel = c.pinBlock.isEmpty();
        h.start(QStringLiteral("4012345678909"), QStringLiteral("12.34"), 60);
        h.scheduler.advance(c.goneAtMs);
        if (c.goneAtMs < 3000)
            h.operation->clientGone();
        h.scheduler.runUntilIdle();

        ASSERT_EQ(h.finished.size(), 1u);
        EXPECT_EQ(h.finished.front().has_value(), c.replied);
        const QStringList log = h.log.entries();
        EXPECT_EQ(log.contains(QStringLiteral("pinPad1000se_get_pin: client gone")), !c.replied);
        // The pad is closed as after any PIN entry.
        EXPECT_EQ(
            h.pad.effects.mid(h.pad.effects.size() - 2),
            (QStringList{prompt(QStringLiteral("4012345678909"), 60), QStringLiteral("close")}));
        // Nothing of the card or the PIN reaches the log.
        EXPECT_TRUE(log.filter(kBlock).isEmpty());
        EXPECT_TRUE(log.filter(QStringLiteral("4012345678909")).isEmpty());
    }
}

TEST(PinEntry, ClosingTheProgramEndsTheEntryAtOnceWithTheInterruptedError)
{
    struct Case
    {
        const char* name;
        int closeAtMs;
        QString lastEffect;
    };
    const std::vector<Case> cases{
        {"while the pad opens", 500, kOpened.first()},
        {"while the customer keys the PIN", 20000, prompt(QStringLiteral("4012345678909"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        h.pad.openMs = 1000;
        h.pad.pinMs = 60000;
        h.pad.pinBlock = kBlock;
        h.start(QStringLiteral("4012345678909"), QStringLiteral("12.34"));
        h.scheduler.advance(c.closeAtMs);
        ASSERT_TRUE(h.finished.empty());

        h.operation->close();
        // The error reply is out before close() returns, and the log says why.
        ASSERT_EQ(h.finished.size(), 1u);
        ASSERT_TRUE(h.finished.front().has_value());
        EXPECT_EQ(
            *h.finished.front(),
            (Reply{QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 18)</ERROR></1000SE>"),
                   false}));
        EXPECT_EQ(h.log.entries().last(), QStringLiteral("pinPad1000se_get_pin: Error( 18)"));
        // The pad is dropped as it was; nothing of it is left to run or to answer.
        EXPECT_EQ(h.pad.effects.mid(h.pad.effects.size() - 2),
                  (QStringList{c.lastEffect, QStringLiteral("abandon")}));
        EXPECT_EQ(h.scheduler.pending(), 0u);
        h.operation->close();
        h.scheduler.runUntilIdle();
        EXPECT_EQ(h.finished.size(), 1u);
        h.operation.reset();
    }
    // An operation dropped half-way leaves the pad's callback nowhere to go.
    Harness h;
    h.pad.pinMs = 60000;
    h.start(QStringLiteral("4012345678909"), QStringLiteral("12.34"));
    h.scheduler.advance(100);
    h.operation.reset();
    EXPECT_EQ(h.pad.effects.last(), QStringLiteral("abandon"));
    EXPECT_EQ(h.scheduler.pending(), 0u);
}

TEST(PinEntry, DeviceBoxEnablesTheFiveFieldsAndOpensNothing)
{
    PinPadTestLog log;
    LiveSettings settings;
    FakeScheduler scheduler;
    FakePinPad pad(scheduler);
    PinEntry entry(pad, settings, log.log(), 120);
    int changes = 0;
    QObject::connect(&settings, &LiveSettings::changed, [&changes] { ++changes; });

    const std::vector<std::pair<int, bool>> states{{LiveSettings::Ticked, true},
                                                   {LiveSettings::Greyed, false},
                                                   {LiveSettings::Ticked, true},
                                                   {LiveSettings::Unticked, false}};
    for (const auto& [state, enabled] : states) {
        settings.setChk1000SEDevice(state);
        EXPECT_EQ(settings.fields1000SEEnabled(), enabled) << state;
        EXPECT_EQ(entry.pinpad_enabled(false), state == LiveSettings::Ticked);
    }
    // Run explicitly, as the settings load does, the handler follows the box again.
    settings.setFields1000SEEnabled(true);
    settings.clickChk1000SEDevice();
    EXPECT_FALSE(settings.fields1000SEEnabled());
    EXPECT_GE(changes, 5);
    EXPECT_TRUE(pad.effects.isEmpty());
    EXPECT_TRUE(log.entries().isEmpty());
}
