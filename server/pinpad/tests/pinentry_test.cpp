#include "pinpad/pinentry.h"

#include <gtest/gtest.h>

#include "core/livesettings.h"
#include "fakepinpad.h"
#include "pinpadtestsupport.h"
#include "recordingreplies.h"

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
// The members used before OpenPad, with the fields of the fixture.
const QStringList kSetUp{QStringLiteral("Port=5"),     QStringLiteral("BaudRate=9600"),
                         QStringLiteral("DataBits=8"), QStringLiteral("Parity=E"),
                         QStringLiteral("Port"),       QStringLiteral("BaudRate"),
                         QStringLiteral("DataBits"),   QStringLiteral("OpenPad")};

struct Case
{
    const char* name;
    int box;
    QString card;
    QString total;
    std::function<void(FakePinPad&)> arrange;
    QString reply;
    bool skipDebug;
    QStringList calls;
    QStringList log;
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
    const QStringList enteredCalls =
        kSetUp + QStringList{QStringLiteral("CardNumber=4012345678909"),
                             QStringLiteral("Amount=12.34"), QStringLiteral("GetPinBlock"),
                             QStringLiteral("Ksn"), QStringLiteral("ClosePad")};
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
         kSetUp + QStringList{QStringLiteral("CardNumber="), QStringLiteral("Amount=12.34"),
                              QStringLiteral("GetPinBlock"), QStringLiteral("Ksn"),
                              QStringLiteral("ClosePad")},
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
         kSetUp + QStringList{QStringLiteral("CardNumber=4012345678901234567"),
                              QStringLiteral("Amount=12.34"), QStringLiteral("GetPinBlock"),
                              QStringLiteral("Ksn"), QStringLiteral("ClosePad")},
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
         kSetUp + QStringList{QStringLiteral("ErrorCode"), QStringLiteral("ErrorDescription"),
                              QStringLiteral("ClosePad")},
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
         kSetUp + QStringList{QStringLiteral("ErrorCode"), QStringLiteral("ErrorDescription"),
                              QStringLiteral("ClosePad")},
         {kStart, kPortLine,
          QStringLiteral("pinPad1000se_get_pin: pinpadError: code=[-3] desc=[]")}},
        {"OpenPad raises 438: error reply, pad not closed",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) { pad.failures.insert(QStringLiteral("OpenPad"), 438); },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 438)</ERROR></1000SE>"),
         false,
         kSetUp,
         {kStart, kPortLine, QStringLiteral("pinPad1000se_get_pin: Error( 438)")}},
        {"GetPinBlock raises 68: error reply, Ksn and ClosePad not used",
         LiveSettings::Ticked,
         card,
         total,
         [](FakePinPad& pad) { pad.failures.insert(QStringLiteral("GetPinBlock"), 68); },
         QStringLiteral("<1000SE><ERROR>Error Getting PIN: Error( 68)</ERROR></1000SE>"),
         false,
         kSetUp + QStringList{QStringLiteral("CardNumber=4012345678909"),
                              QStringLiteral("Amount=12.34"), QStringLiteral("GetPinBlock")},
         {kStart, kPortLine, kInitialized, QStringLiteral("pinPad1000se_get_pin: Error( 68)")}},
    };

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PinPadTestLog log;
        LiveSettings settings;
        RecordingReplies replies;
        FakePinPad pad;
        PinEntry entry(pad, settings, log.log(), replies);
        settings.setChk1000SEDevice(c.box);
        settings.setCbo1000SECommPort(QStringLiteral("5"));
        settings.setCbo1000SEBaudRate(QStringLiteral("9600"));
        settings.setTxt1000SEDataBits(QStringLiteral("8"));
        settings.setTxt1000SEParity(QStringLiteral("E"));
        if (c.arrange)
            c.arrange(pad);

        entry.pinPad1000se_get_pin(c.card, c.total);

        ASSERT_EQ(replies.replies.size(), 1u);
        EXPECT_EQ(replies.replies.front().xml, c.reply);
        EXPECT_EQ(replies.replies.front().skipDebug, c.skipDebug);
        EXPECT_EQ(pad.calls, c.calls);
        EXPECT_EQ(log.entries(), c.log);
    }
}

TEST(PinEntry, EveryRequestSetsTheFieldsAsTheyAreNow)
{
    PinPadTestLog log;
    LiveSettings settings;
    RecordingReplies replies;
    FakePinPad pad;
    PinEntry entry(pad, settings, log.log(), replies);
    settings.setChk1000SEDevice(LiveSettings::Ticked);
    settings.setCbo1000SECommPort(QStringLiteral("/dev/ttyUSB0"));
    entry.pinPad1000se_get_pin(QStringLiteral("41"), QStringLiteral("1"));
    // A changed Baud Rate field, not saved, reaches the next request.
    settings.setCbo1000SEBaudRate(QStringLiteral("4800"));
    pad.calls.clear();
    entry.pinPad1000se_get_pin(QStringLiteral("41"), QStringLiteral("1"));
    EXPECT_EQ(pad.calls.mid(0, 4),
              (QStringList{QStringLiteral("Port=/dev/ttyUSB0"), QStringLiteral("BaudRate=4800"),
                           QStringLiteral("DataBits="), QStringLiteral("Parity=")}));
    EXPECT_TRUE(log.entries().contains(
        QStringLiteral("pinPad1000se_get_pin: port=[/dev/ttyUSB0] baud=[4800] databits=[]")));
}

TEST(PinEntry, DeviceBoxEnablesTheFiveFieldsAndOpensNothing)
{
    PinPadTestLog log;
    LiveSettings settings;
    RecordingReplies replies;
    FakePinPad pad;
    PinEntry entry(pad, settings, log.log(), replies);
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
    EXPECT_TRUE(pad.calls.isEmpty());
    EXPECT_TRUE(log.entries().isEmpty());
}
