#include <gtest/gtest.h>

#include "core/livesettings.h"
#include "fakepaddriver.h"
#include "pad/padconnection.h"
#include "padtestsupport.h"

namespace {

class PadConnectionTest : public ::testing::Test
{
protected:
    // Ticks the box without running its handler, as if the box had been ticked before.
    void tickQuietly()
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Ticked);
    }
    void expectMenu(bool connect, bool disconnect, bool padForms)
    {
        EXPECT_EQ(settings.mnuQP6100Connect(), connect);
        EXPECT_EQ(settings.mnuQP6100Disconnect(), disconnect);
        EXPECT_EQ(settings.mnuQP6100PadForms(), padForms);
        EXPECT_FALSE(settings.mnuQP6100LoadScript());
    }

    FakePadDriver driver;
    TestLog log;
    LiveSettings settings;
    FixedFileChooser chooser;
    PadConnection pad{driver, settings, log.log(), chooser};
};

TEST_F(PadConnectionTest, EnabledOnlyWhenTheBoxIsTicked)
{
    EXPECT_FALSE(pad.pad_enabled(false));
    EXPECT_TRUE(log.entries().isEmpty());
    EXPECT_FALSE(pad.pad_enabled(true));
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});

    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Greyed);
    }
    EXPECT_FALSE(pad.pad_enabled(false));
    tickQuietly();
    EXPECT_TRUE(pad.pad_enabled(true));
    EXPECT_EQ(log.entries().size(), 1);
}

TEST_F(PadConnectionTest, ConnectOnADisabledPadDoesNothing)
{
    pad.mnuQP6100Connect_Click();
    pad.mnuQP6100Disconnect_Click();
    pad.pad_welcome();
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_TRUE(log.entries().isEmpty());
    expectMenu(false, false, false);
}

TEST_F(PadConnectionTest, TickingTheBoxConnectsAndShowsWelcome)
{
    int changes = 0;
    QObject::connect(&settings, &LiveSettings::changed, [&changes] { ++changes; });
    settings.setChkQP6100Device(LiveSettings::Ticked);
    EXPECT_EQ(driver.calls, (QStringList{QStringLiteral("OpenPort(0,0)"),
                                         QStringLiteral("ShowForm(padWelcome)")}));
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Port Opened")});
    expectMenu(false, true, true);
    EXPECT_GE(changes, 1);
}

TEST_F(PadConnectionTest, OpenFailureUnticksTheBoxAndClosesThePort)
{
    tickQuietly();
    driver.openStatus = 3;
    driver.portFlags = {-1, 0};
    pad.mnuQP6100Connect_Click();
    EXPECT_EQ(log.entries(),
              QStringList{QStringLiteral("QP6100: Error Opening Port -- Error (3)")});
    EXPECT_EQ(settings.chkQP6100Device(), int(LiveSettings::Unticked));
    expectMenu(true, false, false);
    // The box's close path, then Connect's own close.
    EXPECT_EQ(driver.calls,
              (QStringList{QStringLiteral("OpenPort(0,0)"), QStringLiteral("IsPortOpen"),
                           QStringLiteral("ShowForm(padDisconnect)"), QStringLiteral("ClosePort"),
                           QStringLiteral("IsPortOpen"), QStringLiteral("ClosePort")}));
}

TEST_F(PadConnectionTest, NegativeOpenStatusIsWrittenWithItsSign)
{
    tickQuietly();
    driver.openStatus = -7;
    pad.mnuQP6100Connect_Click();
    EXPECT_EQ(log.entries().value(0), QStringLiteral("QP6100: Error Opening Port -- Error (-7)"));
    EXPECT_EQ(driver.count(QStringLiteral("ClosePort")), 1);
}

TEST_F(PadConnectionTest, DisconnectClosesAnOpenPort)
{
    tickQuietly();
    driver.portFlags = {-1, 0};
    pad.mnuQP6100Disconnect_Click();
    EXPECT_EQ(driver.calls,
              (QStringList{QStringLiteral("IsPortOpen"), QStringLiteral("ShowForm(padDisconnect)"),
                           QStringLiteral("ClosePort"), QStringLiteral("IsPortOpen")}));
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Port Closed")});
    expectMenu(true, false, false);
}

TEST_F(PadConnectionTest, DisconnectReportsAPortAlreadyClosedOrStillOpen)
{
    tickQuietly();
    driver.portFlags = {0};
    pad.mnuQP6100Disconnect_Click();
    EXPECT_EQ(driver.calls, QStringList{QStringLiteral("IsPortOpen")});
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Port Already Closed")});
    expectMenu(true, false, false);

    // Any non-zero flag counts as open; only -1 after the close counts as still open.
    driver.portFlags = {1, -1};
    pad.mnuQP6100Disconnect_Click();
    driver.portFlags = {-1, 1};
    pad.mnuQP6100Disconnect_Click();
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("QP6100: Port Already Closed"),
                                          QStringLiteral("QP6100: Error Closing Port"),
                                          QStringLiteral("QP6100: Port Closed")}));
    expectMenu(true, false, false);
}

TEST_F(PadConnectionTest, UntickingTheBoxClosesQuietlyUnlessThePortStaysOpen)
{
    tickQuietly();
    driver.portFlags = {-1, 0};
    settings.setChkQP6100Device(LiveSettings::Unticked);
    EXPECT_EQ(driver.count(QStringLiteral("ClosePort")), 1);
    EXPECT_TRUE(log.entries().isEmpty());
    expectMenu(true, false, false);

    driver.portFlags = {-1, -1};
    settings.clickChkQP6100Device();
    EXPECT_EQ(log.entries(),
              QStringList{QStringLiteral("QP6100: Error Closing Signature Pad Comm Port.")});

    // An already closed port: no form, no close, no line, the menu closed all the same.
    driver.calls.clear();
    driver.portFlags = {0};
    settings.clickChkQP6100Device();
    EXPECT_EQ(driver.calls, QStringList{QStringLiteral("IsPortOpen")});
    EXPECT_EQ(log.entries().size(), 1);
}

TEST_F(PadConnectionTest, FormRefusalIsLoggedWithTheFormName)
{
    driver.showStatus = 0;
    pad.show_pad_form(QStringLiteral("padStart"));
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Error Displaying padStart")});
    // The welcome form is shown only on an enabled pad.
    pad.pad_welcome();
    EXPECT_EQ(driver.count(QStringLiteral("ShowForm(padWelcome)")), 0);
    tickQuietly();
    pad.pad_welcome();
    EXPECT_EQ(driver.count(QStringLiteral("ShowForm(padWelcome)")), 1);
}

TEST_F(PadConnectionTest, LoadScriptLoadsTheChosenFileAndRunsIt)
{
    tickQuietly();
    chooser.answer = QStringLiteral("/scripts/pad.bin");
    pad.mnuQP6100LoadScript_Click();
    EXPECT_EQ(chooser.asked,
              (QStringList{QStringLiteral("Load Signature Pad Script File"),
                           QStringLiteral("Script Bin Files(*.bin)"), QStringLiteral("*.bin")}));
    EXPECT_EQ(driver.calls,
              (QStringList{QStringLiteral("LoadScript(1,AUTORUN,/scripts/pad.bin,38400)"),
                           QStringLiteral("RunForm(AUTORUN,)")}));
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("Load Script: Successful")});
}

TEST_F(PadConnectionTest, LoadScriptErrors)
{
    // Disabled pad: only the enabled check's line.
    chooser.answer = QStringLiteral("/scripts/pad.bin");
    pad.mnuQP6100LoadScript_Click();
    EXPECT_TRUE(chooser.asked.isEmpty());
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});

    tickQuietly();
    driver.loadStatus = 0;
    pad.mnuQP6100LoadScript_Click();
    EXPECT_EQ(driver.count(QStringLiteral("RunForm(AUTORUN,)")), 0);
    EXPECT_EQ(log.entries().last(), QStringLiteral("Load Script: Error"));

    // A load that fails outright leaves the status at -1: an error, not an escape.
    driver.throwOn = QStringLiteral("LoadScript");
    EXPECT_NO_THROW(pad.mnuQP6100LoadScript_Click());
    EXPECT_EQ(log.entries().size(), 3);
    EXPECT_EQ(log.entries().last(), QStringLiteral("Load Script: Error"));

    // A cancelled or broken dialog stops without a line or a driver call.
    driver.calls.clear();
    chooser.answer.reset();
    pad.mnuQP6100LoadScript_Click();
    chooser.fails = true;
    EXPECT_NO_THROW(pad.mnuQP6100LoadScript_Click());
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(log.entries().size(), 3);
}

TEST_F(PadConnectionTest, DriverFailuresReachTheCallerOrTheLogFromEventHandlers)
{
    tickQuietly();
    driver.throwOn = QStringLiteral("OpenPort");
    EXPECT_THROW(pad.mnuQP6100Connect_Click(), Failure);
    EXPECT_TRUE(log.entries().isEmpty());

    pad.runConnect();
    settings.clickChkQP6100Device();
    driver.throwOn = QStringLiteral("IsPortOpen");
    pad.runDisconnect();
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("QP6100: Connect Error( 424)"),
                                          QStringLiteral("QP6100: Device Error( 424)"),
                                          QStringLiteral("QP6100: Disconnect Error( 424)")}));
}

} // namespace
