// End-to-end: the real varnelpayment with its simulated pad, driven over TCP by clients and at
// the pad by the varnel-pad tool.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>
#include <QThread>

#include "pade2e.h"
#include "simulatedanswers.h"
#include "testfiles.h"

namespace {

const QByteArray kTimeoutReply("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
const QByteArray kBusyReply("<QP6100><ERROR>Pad Busy</ERROR></QP6100>");
const QByteArray
    kNotSetupReply("<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>");

const QString kSimulate = QStringLiteral("--simulate");
// "At once": well inside one half-second waiting step, with room for a loaded machine.
constexpr qint64 kAtOnceMs = 250;

TEST_F(PadE2E, SimulateConnectsThePadAtStartAndShutDownDisconnectsIt)
{
    startServer({kSimulate});
    EXPECT_TRUE(server().logEntries().contains(QStringLiteral("QP6100: Port Opened")));
    EXPECT_EQ(padState(),
              (QStringList{QStringLiteral("port=open"), QStringLiteral("form=padWelcome"),
                           QStringLiteral("TOTAL="), QStringLiteral("TRACK1="),
                           QStringLiteral("TRACK2="), QStringLiteral("SIGCOMP="),
                           QStringLiteral("FULLNAME="), QStringLiteral("ACCOUNT=")}));
    EXPECT_EQ(server().stop(), 0);
    const QStringList log = server().logEntries();
    const qsizetype closed = log.indexOf(QStringLiteral("QP6100: Port Closed"));
    ASSERT_GE(closed, 0);
    EXPECT_EQ(log.value(closed + 1), QStringLiteral("Application Closed"));
    // The box was ticked for the run only: the settings file does not change.
    QFile ini(server().home() + QStringLiteral("/varnelpayment.ini"));
    ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
    EXPECT_FALSE(ini.readAll().contains("qp6100Device"));
}

TEST_F(PadE2E, ATickedBoxInTheSettingsFileConnectsWithoutSimulate)
{
    startServer({}, QStringLiteral("[QP6100]\r\nqp6100Device=1\r\n"));
    EXPECT_TRUE(server().logEntries().contains(QStringLiteral("QP6100: Port Opened")));
    EXPECT_EQ(padState().value(0), QStringLiteral("port=open"));
}

TEST_F(PadE2E, ASwipeIsAnsweredWithItsTracksAndTheTracksNeverReachTheLog)
{
    startServer({kSimulate});
    auto swipe = startTool(
        {QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;TIMER=20;", kSwipeReply), kSwipeReply);
    const ToolRun run = finish(*swipe);
    EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
    EXPECT_EQ(run.out, QStringLiteral("Card swiped.\n"));

    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("clear_padVars: end")));
    const QStringList log =
        server().logEntriesFrom(QStringLiteral("qp6100_get_swipe: timeout=[20]"));
    ASSERT_FALSE(log.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("return_xml: skipDebug=true")));
    EXPECT_TRUE(log.contains(QStringLiteral("Simulator: Card Swiped")));
    const QByteArray bytes = logBytes();
    EXPECT_FALSE(bytes.contains("4111111111111111"));
    EXPECT_FALSE(bytes.contains("DOE/JANE"));
    // The request ends with the variables emptied again.
    EXPECT_EQ(padState().mid(2, 3),
              (QStringList{QStringLiteral("TOTAL="), QStringLiteral("TRACK1="),
                           QStringLiteral("TRACK2=")}));
}

TEST_F(PadE2E, ATimeOutSendsThePadBackToWelcome)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;TIMER=1;", kTimeoutReply), kTimeoutReply);
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("clear_padVars: end")));
    const QStringList log =
        server().logEntriesFrom(QStringLiteral("qp6100_get_swipe: timeout=[1]"));
    EXPECT_EQ(log.mid(0, 5),
              (QStringList{QStringLiteral("qp6100_get_swipe: timeout=[1]"),
                           QStringLiteral("setVar: TRACK1 Successful"),
                           QStringLiteral("setVar: TRACK2 Successful"),
                           QStringLiteral("qp6100_get_swipe: Card Swipe Timeout"),
                           QStringLiteral("return_xml: ") + QString::fromLatin1(kTimeoutReply)}));
    EXPECT_EQ(padState().value(1), QStringLiteral("form=padWelcome"));

    // A swipe nobody asks for waits for the swipe form, then gives up.
    const ToolRun late = tool({QStringLiteral("--wait"), QStringLiteral("1"),
                               QStringLiteral("swipe"), QStringLiteral("nobody")});
    EXPECT_EQ(late.exitCode, 1);
    EXPECT_TRUE(late.err.contains(QStringLiteral("did not show its swipe form")));
}

TEST_F(PadE2E, AnAbortFromASecondClientShowsWelcomeWhileTheSwipeWaits)
{
    startServer({kSimulate});
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    waiting.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    const ToolRun started = tool({QStringLiteral("wait-form"), QStringLiteral("padStart")});
    ASSERT_EQ(started.exitCode, 0) << qPrintable(started.err);

    PadControlClient pad;
    ASSERT_TRUE(pad.connectTo(m_controlPort));
    ASSERT_TRUE(pad.awaitForm(QStringLiteral("padWelcome")));
    TestClient aborting;
    ASSERT_TRUE(aborting.connectTo(server().port()));
    QElapsedTimer sinceAbort;
    sinceAbort.start();
    aborting.send("TRANS=ABORT;");
    // Served inside the swipe's current half-second step, not after it.
    ASSERT_EQ(pad.closingLine(2000), QStringLiteral("ok"));
    EXPECT_LT(sinceAbort.elapsed(), kAtOnceMs);

    const ToolRun welcome = tool({QStringLiteral("--wait"), QStringLiteral("2"),
                                  QStringLiteral("wait-form"), QStringLiteral("padWelcome")});
    EXPECT_EQ(welcome.exitCode, 0) << qPrintable(welcome.err);
    // The swipe still waits: no reply yet, and the aborting client never gets one.
    EXPECT_FALSE(
        server().logEntries().contains(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")));
    EXPECT_TRUE(aborting.receive(300).isEmpty());

    // A shorter limit, which gets no reply either, ends the wait.
    aborting.send("TIMER=1;");
    EXPECT_EQ(waiting.receive(10000, kTimeoutReply.size()), kTimeoutReply);
    EXPECT_TRUE(aborting.receive(200).isEmpty());
}

TEST_F(PadE2E, ATimerSetByAnotherClientReachesTheWaitingSwipe)
{
    startServer({kSimulate});
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    waiting.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);

    TestClient other;
    ASSERT_TRUE(other.connectTo(server().port()));
    const QByteArray version("<VERSION>1.0.0</VERSION>");
    EXPECT_EQ(other.transact("TIMER=1;TRANS=VERSION;", version), version);
    // The swipe reads the new limit at its next step, long before its own 30 seconds.
    EXPECT_EQ(waiting.receive(2000, kTimeoutReply.size()), kTimeoutReply);
}

TEST_F(PadE2E, RequestsOnTheWaitingConnectionRunAtOnceInsideTheWait)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    client.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);

    PadControlClient pad;
    ASSERT_TRUE(pad.connectTo(m_controlPort));
    ASSERT_TRUE(pad.awaitForm(QStringLiteral("padWelcome")));
    QElapsedTimer sinceAbort;
    sinceAbort.start();
    client.send("TRANS=ABORT;");
    ASSERT_EQ(pad.closingLine(2000), QStringLiteral("ok"));
    EXPECT_LT(sinceAbort.elapsed(), kAtOnceMs);
    EXPECT_TRUE(client.receive(300).isEmpty());

    // A new limit on the same connection ends the swipe that waits there.
    client.send("TIMER=1;");
    EXPECT_EQ(client.receive(3000, kTimeoutReply.size()), kTimeoutReply);
}

TEST_F(PadE2E, ShuttingDownDuringASwipeEndsTheWaitAndThenClosesThePad)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    client.send("TRANS=QP6100;ACTION=1;TIMER=60;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);

    QElapsedTimer closing;
    closing.start();
    EXPECT_EQ(server().stop(), 0);
    EXPECT_LT(closing.elapsed(), 5000);
    const QByteArray interrupted("<QP6100><ERROR>Error Getting Swipe: Error( 18)</ERROR></QP6100>");
    EXPECT_EQ(client.receive(3000, interrupted.size()), interrupted);

    const QStringList log = server().logEntries();
    const qsizetype error = log.indexOf(QStringLiteral("qp6100_get_swipe: Error( 18)"));
    ASSERT_GE(error, 0);
    ASSERT_GE(log.size(), error + 3);
    EXPECT_EQ(log.mid(log.size() - 2), (QStringList{QStringLiteral("QP6100: Port Closed"),
                                                    QStringLiteral("Application Closed")}));
    EXPECT_FALSE(log.contains(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")));
}

TEST_F(PadE2E, ASecondTillIsToldThePadIsBusyAndTheCardGoesToTheTillThatAskedFirst)
{
    startServer({kSimulate});
    TestClient first;
    ASSERT_TRUE(first.connectTo(server().port()));
    first.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);

    // A second till's swipe and signature are refused at once; its version request and an
    // abort still run while the first swipe waits.
    TestClient second;
    ASSERT_TRUE(second.connectTo(server().port()));
    QElapsedTimer refusal;
    refusal.start();
    EXPECT_EQ(second.transact("TRANS=QP6100;ACTION=1;", kBusyReply), kBusyReply);
    EXPECT_LT(refusal.elapsed(), kAtOnceMs);
    EXPECT_EQ(second.transact("TRANS=QP6100;ACTION=2;UNIQU=b1;", kBusyReply), kBusyReply);
    const QByteArray version("<VERSION>1.0.0</VERSION>");
    EXPECT_EQ(second.transact("TRANS=VERSION;", version), version);
    const QStringList log = server().logEntries();
    EXPECT_EQ(log.count(QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[127.0.0.1]")), 2);
    EXPECT_EQ(log.count(QStringLiteral("qp6100_get_swipe: timeout=[30]")), 1);
    EXPECT_FALSE(log.contains(QStringLiteral("Get Signature:")));

    const ToolRun swipe =
        tool({QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    EXPECT_EQ(swipe.exitCode, 0) << qPrintable(swipe.err);
    EXPECT_EQ(first.receive(5000, kSwipeReply.size()), kSwipeReply);
    EXPECT_TRUE(second.receive(300).isEmpty());
    // Once the pad is free, the second till is served.
    second.send("TRANS=QP6100;ACTION=1;TIMER=1;");
    EXPECT_EQ(second.receive(5000, kTimeoutReply.size()), kTimeoutReply);
}

TEST_F(PadE2E, ATillThatGaveUpFreesThePadForItsRetry)
{
    startServer({kSimulate});
    {
        TestClient gaveUp;
        ASSERT_TRUE(gaveUp.connectTo(server().port()));
        gaveUp.send("TRANS=QP6100;ACTION=1;TIMER=60;");
        ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);
        gaveUp.close();
    }
    // The swipe ends at its next step: the pad goes back to welcome, one line says why.
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("qp6100_get_swipe: client gone"), 2000));
    EXPECT_EQ(padState().value(1), QStringLiteral("form=padWelcome"));

    TestClient retry;
    ASSERT_TRUE(retry.connectTo(server().port()));
    retry.send("TRANS=QP6100;ACTION=1;TIMER=60;");
    const ToolRun swipe =
        tool({QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    EXPECT_EQ(swipe.exitCode, 0) << qPrintable(swipe.err);
    EXPECT_EQ(retry.receive(5000, kSwipeReply.size()), kSwipeReply);

    // The same for a signature: its retry is served, not refused.
    {
        TestClient gaveUp;
        ASSERT_TRUE(gaveUp.connectTo(server().port()));
        gaveUp.send("TRANS=QP6100;ACTION=2;UNIQU=r1;TIMER=60;");
        ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padSig")}).exitCode, 0);
    }
    ASSERT_TRUE(
        server().waitForLogEntry(QStringLiteral("qp6100_get_signature: client gone"), 2000));
    retry.send("TRANS=QP6100;ACTION=1;TIMER=1;");
    EXPECT_EQ(retry.receive(5000, kTimeoutReply.size()), kTimeoutReply);
    const QStringList log = server().logEntries();
    EXPECT_FALSE(
        log.contains(QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[127.0.0.1]")));
    EXPECT_FALSE(log.contains(QStringLiteral("Socket: DataArrival Error( 40006)")));
}

TEST_F(PadE2E, ThousandsOfSwipesOnOneConnectionNeitherNestNorEndTheServer)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    client.send("TRANS=QP6100;ACTION=1;TIMER=120;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);

    // Each request is its own receipt: sent once the one before it was answered.
    constexpr int kRequests = 4000;
    int refused = 0;
    for (int i = 0; i < kRequests; ++i) {
        if (client.transact("TRANS=QP6100;ACTION=1;", kBusyReply) != kBusyReply)
            break;
        ++refused;
    }
    EXPECT_EQ(refused, kRequests);
    ASSERT_EQ(server().process().state(), QProcess::Running);
    EXPECT_EQ(server().logEntries().count(QStringLiteral("qp6100_get_swipe: timeout=[120]")), 1);

    // The first swipe still waits, and takes the card.
    const ToolRun swipe =
        tool({QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    EXPECT_EQ(swipe.exitCode, 0) << qPrintable(swipe.err);
    EXPECT_EQ(client.receive(5000, kSwipeReply.size()), kSwipeReply);
}

TEST_F(PadE2E, AnUntickedBoxAnswersNotSetup)
{
    startServer({});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;", kNotSetupReply), kNotSetupReply);
    EXPECT_EQ(padState().value(0), QStringLiteral("port=closed"));
    // An abort leaves a disabled pad alone and gets no reply.
    client.send("TRANS=ABORT;");
    EXPECT_TRUE(client.receive(300).isEmpty());
    EXPECT_EQ(padState().value(1), QStringLiteral("form="));
}

TEST_F(PadE2E, UniquIsCheckedWhereTheSignatureFileIsUsed)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    // Any UNIQU value parses: requests that do not use the file are answered as usual.
    const QByteArray version("<VERSION>1.0.0</VERSION>");
    EXPECT_EQ(client.transact("TRANS=VERSION;UNIQU=;", version), version);
    EXPECT_EQ(client.transact("TRANS=VERSION;UNIQU=AB..12;", version), version);

    // A signature file named outside the signatures folder is refused before anything is
    // removed or written: the transaction ends on its error path without a reply.
    const QDir home(server().home());
    ASSERT_TRUE(home.mkpath(QStringLiteral("signatures")));
    const QString outside = home.filePath(QStringLiteral("x.pcx"));
    TestFiles::writeAll(outside, "kept");
    client.send("TRANS=QP6100;ACTION=2;UNIQU=../x;ACCOUNT=12;");
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("Socket: DataArrival Error( 5)")));
    EXPECT_TRUE(client.receive(300).isEmpty());
    const QStringList log = server().logEntriesFrom(
        QStringLiteral("Socket: DataArrival Parse tag=[UNIQU] value=[../x]"));
    EXPECT_TRUE(log.contains(QStringLiteral("Socket: DataArrival Parse transType=[QP6100] "
                                            "action=[2] doFtp=[False] name=[] total=[] ")));
    EXPECT_FALSE(
        log.contains(QStringLiteral("Socket: Transaction End ") + QString(64, QLatin1Char('-'))));
    EXPECT_EQ(TestFiles::readAll(outside), QByteArray("kept"));
    EXPECT_EQ(home.entryList({QStringLiteral("*.pcx")}, QDir::Files),
              QStringList{QStringLiteral("x.pcx")});
    EXPECT_TRUE(QDir(home.filePath(QStringLiteral("signatures"))).isEmpty());
    EXPECT_EQ(server().process().state(), QProcess::Running);
}

TEST_F(PadE2E, DriverFaultsReachTheirLogLinesAndReplies)
{
    startServer({kSimulate});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));

    ASSERT_EQ(tool({QStringLiteral("throw"), QStringLiteral("GetVariable"), QStringLiteral("13")})
                  .exitCode,
              0);
    const QByteArray errorReply("<QP6100><ERROR>Error Getting Swipe: Error( 13)</ERROR></QP6100>");
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;TIMER=5;", errorReply), errorReply);
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("qp6100_get_swipe: Error( 13)")));

    // Every write refused: six lines of failure, and the request still ends normally.
    ASSERT_EQ(tool({QStringLiteral("fail"), QStringLiteral("SetVariable"), QStringLiteral("0"),
                    QStringLiteral("6")})
                  .exitCode,
              0);
    client.send("TRANS=QP6100;ACTION=3;");
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("setVar: ACCOUNT Failed")));
    const QStringList log = server().logEntriesFrom(QStringLiteral("setVar: TOTAL Failed"));
    EXPECT_EQ(log.mid(0, 7), (QStringList{QStringLiteral("setVar: TOTAL Failed"),
                                          QStringLiteral("setVar: TRACK1 Failed"),
                                          QStringLiteral("setVar: TRACK2 Failed"),
                                          QStringLiteral("setVar: SIGCOMP flush Failed"),
                                          QStringLiteral("setVar: FULLNAME Failed"),
                                          QStringLiteral("setVar: ACCOUNT Failed"),
                                          QStringLiteral("clear_padVars: end")}));

    // A status-0 read that still holds a card counts as a card, with track 2 left empty.
    ASSERT_EQ(tool({QStringLiteral("fail"), QStringLiteral("GetVariable"), QStringLiteral("0"),
                    QStringLiteral("20")})
                  .exitCode,
              0);
    auto swipe =
        startTool({QStringLiteral("swipe"), QStringLiteral("T1DATA"), QStringLiteral("T2DATA")});
    const QByteArray oneTrack(
        "<QP6100><SWIPE><TRACK1>T1DATA</TRACK1><TRACK2></TRACK2></SWIPE></QP6100>");
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;", oneTrack), oneTrack);
    EXPECT_EQ(finish(*swipe).exitCode, 0);
}

TEST_F(PadE2E, TheToolExplainsWhatItCannotDo)
{
    const ToolRun usage = tool({QStringLiteral("swipe")});
    EXPECT_EQ(usage.exitCode, 2);
    startServer({kSimulate});
    const ToolRun refused =
        tool({QStringLiteral("fail"), QStringLiteral("Dance"), QStringLiteral("1")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.err.startsWith(QStringLiteral("varnel-pad: usage: fail")))
        << qPrintable(refused.err);
    // Negative statuses are values, not options.
    EXPECT_EQ(
        tool({QStringLiteral("fail"), QStringLiteral("OpenPort"), QStringLiteral("-3")}).exitCode,
        0);
    server().stop();
    const ToolRun nobody = tool({QStringLiteral("state")});
    EXPECT_EQ(nobody.exitCode, 1);
    EXPECT_TRUE(nobody.err.contains(QStringLiteral("no simulated pad")));
}

} // namespace
