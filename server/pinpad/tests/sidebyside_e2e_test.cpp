// End-to-end: two tills on the real server, one at the pad (varnel-pad on its control port) and
// one at the PIN pad (varnel-pinpad on a pseudo-terminal). Each device's reply goes out as soon
// as that device has answered, whatever the other one is doing, and a refused request changes
// nothing of what waits.
#include <gtest/gtest.h>

#include <memory>

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include "pinpadsimulatorprocess.h"
#include "serverprocess.h"
#include "simulatedanswers.h"

namespace {

const QByteArray kPadBusy = "<QP6100><ERROR>Pad Busy</ERROR></QP6100>";
const QString kPinAsked = QStringLiteral("PIN requested for the card ending 8909");

class SideBySideE2E : public ::testing::Test
{
protected:
    // The server with the simulated pad ticked and the 1000SE on COM3, which is varnel-pinpad
    // answering `pinPadArguments`.
    void start(const QStringList& pinPadArguments)
    {
        const QString link = m_dir.filePath(QStringLiteral("pinpad"));
        ASSERT_TRUE(m_pinPad.start(link, pinPadArguments)) << "varnel-pinpad did not start";
        m_controlPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[1000SE]\r\n1000SEDevice=1\r\n"
                           "1000SECommPort=3\r\n[SerialPorts]\r\nCOM3=%2\r\n")
                .arg(m_controlPort)
                .arg(link),
            QStringList{QStringLiteral("--simulate")});
        ASSERT_TRUE(m_server->start()) << "server did not start";
    }
    // varnel-pad swipes a card as soon as the pad shows its swipe form.
    std::unique_ptr<QProcess> swipeWhenAsked()
    {
        auto tool = std::make_unique<QProcess>();
        tool->start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                    {QStringLiteral("--port"), QString::number(m_controlPort),
                     QStringLiteral("swipe"), QString::fromLatin1(kTrack1),
                     QString::fromLatin1(kTrack2)});
        EXPECT_TRUE(tool->waitForStarted(5000));
        return tool;
    }
    // Waits until the pad shows its swipe form.
    void awaitSwipeForm()
    {
        QProcess tool;
        tool.start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                   {QStringLiteral("--port"), QString::number(m_controlPort),
                    QStringLiteral("wait-form"), QStringLiteral("padStart")});
        ASSERT_TRUE(tool.waitForFinished(10000));
        ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    }
    quint16 port() const { return m_server->port(); }
    ServerProcess& server() { return *m_server; }
    PinPadSimulator& pinPad() { return m_pinPad; }

private:
    QTemporaryDir m_dir;
    PinPadSimulator m_pinPad;
    quint16 m_controlPort = 0;
    std::unique_ptr<ServerProcess> m_server;
};

} // namespace

TEST_F(SideBySideE2E, ASwipeIsAnsweredAtOnceWhileAPinEntryWaitsAndThePinWhenThePinPadAnswers)
{
    start({QStringLiteral("--delay"), QStringLiteral("4")});
    TestClient pinTill;
    ASSERT_TRUE(pinTill.connectTo(port()));
    QElapsedTimer sincePinAsked;
    pinTill.send("TIMER=30;" + kPinRequest);
    ASSERT_TRUE(pinPad().waitForLine(kPinAsked));
    sincePinAsked.start();

    TestClient swipeTill;
    ASSERT_TRUE(swipeTill.connectTo(port()));
    swipeTill.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    const auto tool = swipeWhenAsked();
    EXPECT_EQ(swipeTill.receive(3500, kSwipeReply.size()), kSwipeReply);
    // The card went out while the PIN pad still had its customer.
    EXPECT_LT(sincePinAsked.elapsed(), 3500);
    EXPECT_TRUE(pinTill.receive(50).isEmpty());
    EXPECT_EQ(pinTill.receive(8000, kPinReply.size()), kPinReply);
    EXPECT_GE(sincePinAsked.elapsed(), 3500);
    EXPECT_TRUE(tool->waitForFinished(5000));
}

TEST_F(SideBySideE2E, APinIsAnsweredWhenThePinPadAnswersWhileASwipeWaits)
{
    start({QStringLiteral("--delay"), QStringLiteral("1")});
    TestClient swipeTill;
    ASSERT_TRUE(swipeTill.connectTo(port()));
    swipeTill.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    awaitSwipeForm();

    TestClient pinTill;
    ASSERT_TRUE(pinTill.connectTo(port()));
    QElapsedTimer sincePinSent;
    sincePinSent.start();
    pinTill.send(kPinRequest);
    EXPECT_EQ(pinTill.receive(5000, kPinReply.size()), kPinReply);
    EXPECT_LT(sincePinSent.elapsed(), 3000);
    // The swipe still waits for its card, which then goes to its own till.
    EXPECT_TRUE(swipeTill.receive(50).isEmpty());
    const auto tool = swipeWhenAsked();
    EXPECT_EQ(swipeTill.receive(5000, kSwipeReply.size()), kSwipeReply);
    EXPECT_TRUE(tool->waitForFinished(5000));
}

TEST_F(SideBySideE2E, ARequestRefusedAsBusyLeavesTheWaitingSwipeItsOwnTimer)
{
    start({});
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(port()));
    waiting.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    awaitSwipeForm();

    TestClient other;
    ASSERT_TRUE(other.connectTo(port()));
    other.send("TRANS=QP6100;ACTION=1;TIMER=2;");
    EXPECT_EQ(other.receive(3000, kPadBusy.size()), kPadBusy);
    // Past the refused request's two seconds the first swipe still waits.
    EXPECT_TRUE(waiting.receive(3500).isEmpty());
    EXPECT_FALSE(
        server().logEntries().contains(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")));
    const auto tool = swipeWhenAsked();
    EXPECT_EQ(waiting.receive(5000, kSwipeReply.size()), kSwipeReply);
    EXPECT_TRUE(tool->waitForFinished(5000));
}

TEST_F(SideBySideE2E, ABareTimerDoesNotCutAPinEntryThatHasNoneOfItsOwn)
{
    start({QStringLiteral("--delay"), QStringLiteral("3")});
    TestClient setter;
    ASSERT_TRUE(setter.connectTo(port()));
    setter.send("TIMER=1;");
    ASSERT_TRUE(server().waitForLogEntry(
        QStringLiteral("Socket: DataArrival Parse tag=[TIMER] value=[1]")));
    TestClient pinTill;
    ASSERT_TRUE(pinTill.connectTo(port()));
    pinTill.send(kPinRequest);
    // The customer's three seconds are waited for, not the one second another request left.
    EXPECT_EQ(pinTill.receive(8000, kPinReply.size()), kPinReply);
    EXPECT_FALSE(
        server().logEntries().contains(QStringLiteral("pinPad1000se_get_pin: no answer in 1 s")));
}
