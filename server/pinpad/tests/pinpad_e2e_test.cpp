// End-to-end: the real varnelpayment talks to varnel-pinpad on a pseudo-terminal that the
// settings map as COM3, and clients send PIN requests over TCP.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "pinpadsimulatorprocess.h"
#include "pinpadtestsupport.h"
#include "serverprocess.h"

namespace {

const QByteArray kPinRequest = "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=12.34;";
const QByteArray kFirstPin = "<1000SE><PINBLOCK>1B9C1845EB993A7A</PINBLOCK>"
                             "<KSN>FFFF9876543210E00001</KSN></1000SE>";
const QByteArray kSecondPin = "<1000SE><PINBLOCK>10A01C8D02C69107</PINBLOCK>"
                              "<KSN>FFFF9876543210E00002</KSN></1000SE>";
const QByteArray kCancelled = "<1000SE><CANCEL>1</CANCEL></1000SE>";
const QByteArray kPadFailed = "<1000SE><ERROR>Error Initializing Pad</ERROR></1000SE>";
const QByteArray kVersion = "<VERSION>1.0.0</VERSION>";
const QString kStart = QStringLiteral("pinPad1000se_get_pin: start");

class PinPadE2E : public ::testing::Test
{
protected:
    QString link() const { return m_dir.filePath(QStringLiteral("pinpad")); }

    // The server with the 1000SE box ticked on COM3, which names `device`; so does COM8, the
    // last port the scan probes. The other six ports name missing devices.
    // `more1000SE`: further lines of section [1000SE].
    void startServer(const QString& device, const QString& parity = {},
                     const QString& more1000SE = {})
    {
        QString settings = QStringLiteral("[1000SE]\r\n1000SEDevice=1\r\n1000SECommPort=3\r\n"
                                          "1000SEParity=%1\r\n%2[SerialPorts]\r\n")
                               .arg(parity, more1000SE);
        for (int port = 1; port <= 8; ++port)
            settings +=
                QStringLiteral("COM%1=%2\r\n")
                    .arg(port)
                    .arg(port == 3 || port == 8 ? device
                                                : m_dir.filePath(QStringLiteral("missing")));
        m_server = std::make_unique<ServerProcess>(settings);
        ASSERT_TRUE(m_server->start()) << "server did not start";
    }
    void startPad(const QStringList& arguments)
    {
        ASSERT_TRUE(m_pad.start(link(), arguments)) << "varnel-pinpad did not start";
    }
    ServerProcess& server() { return *m_server; }
    PinPadSimulator& pad() { return m_pad; }

    QByteArray request(const QByteArray& text, const QByteArray& expected, int timeoutMs = 5000)
    {
        TestClient client;
        EXPECT_TRUE(client.connectTo(server().port()));
        client.send(text);
        return client.receive(timeoutMs, expected.size());
    }
    // The log entries of the n-th PIN request (0 for the first), from its start line up to
    // its own transaction's end (transactions nested inside it included); waits for that end.
    QStringList pinRequestLog(int n = 0)
    {
        QDeadlineTimer deadline(5000);
        do {
            const QStringList entries = server().logEntries();
            qsizetype start = -1;
            for (int seen = 0; seen <= n; ++seen)
                if ((start = entries.indexOf(kStart, start + 1)) < 0)
                    break;
            int nested = 0;
            for (qsizetype i = start < 0 ? entries.size() : start; i < entries.size(); ++i) {
                if (entries.at(i).startsWith(QLatin1String("Socket: Transaction Start ")))
                    ++nested;
                else if (entries.at(i).startsWith(QLatin1String("Socket: Transaction End ")) &&
                         nested-- == 0)
                    return entries.mid(start, i - start);
            }
            QThread::msleep(20);
        } while (!deadline.hasExpired());
        return {};
    }
    QByteArray logBytes() const
    {
        QFile file(m_server->home() + QStringLiteral("/varnelpayment.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    PinPadSimulator m_pad;
    std::unique_ptr<ServerProcess> m_server;
};

const QString kPortLine = QStringLiteral("pinPad1000se_get_pin: port=[3] baud=[] databits=[]");
const QString kInitialized = QStringLiteral("pinPad1000se_get_pin: initialized");
const QString kSkipDebug = QStringLiteral("return_xml: skipDebug=true");

} // namespace

TEST_F(PinPadE2E, TheScanFindsThePadAndPinsReachOnlyTheClient)
{
    startPad({QStringLiteral("--delay"), QStringLiteral("0.1")});
    startServer(link());

    // The scan probed COM1 to COM8 at start-up and found the pad on COM3 and COM8.
    QStringList scan;
    for (int port = 1; port <= 8; ++port)
        scan << QStringLiteral("commPort_get_info: COM%1").arg(port)
             << (port == 3 || port == 8
                     ? QStringLiteral("commPort_get_info: AddItem x=[%1]").arg(port)
                     : QStringLiteral("commPort_get_info: Error( 53)"));
    const QStringList startUp = server().logEntries();
    const qsizetype first = startUp.indexOf(QStringLiteral("commPort_get_info: COM1"));
    ASSERT_GE(first, 0);
    EXPECT_EQ(startUp.mid(first, scan.size()), scan);

    // The scan released the pad's port after COM8, its last probe: the pad opens, and each PIN
    // entry has its own key.
    EXPECT_EQ(request(kPinRequest, kFirstPin), kFirstPin);
    EXPECT_EQ(pinRequestLog(), (QStringList{kStart, kPortLine, kInitialized, kSkipDebug}));
    EXPECT_EQ(request(kPinRequest, kSecondPin), kSecondPin);
    EXPECT_EQ(pinRequestLog(1), (QStringList{kStart, kPortLine, kInitialized, kSkipDebug}));
    EXPECT_TRUE(
        pad().lines().mid(1, 4) ==
        (QStringList{QStringLiteral("display: WELCOME"), QStringLiteral("display: TOTAL 12.34"),
                     QStringLiteral("PIN requested for the card ending 8909"),
                     QStringLiteral("answer: ksn=FFFF9876543210E00001 pinblock=1B9C1845EB993A7A")}))
        << pad().lines().join(QLatin1Char('|')).toStdString();

    // Card number, PIN block and key serial number never reach the log.
    const QByteArray log = logBytes();
    for (const char* secret :
         {"4012345678909", "1B9C1845EB993A7A", "10A01C8D02C69107", "9876543210E0000"})
        EXPECT_FALSE(log.contains(secret)) << secret;
}

TEST_F(PinPadE2E, ACancelOnThePadIsTheCustomersButAPadThatGivesUpIsAFault)
{
    const QByteArray gaveUp = "<1000SE><ERROR>Error Getting PIN: Error( 57)</ERROR></1000SE>";
    const struct
    {
        QString option;
        QByteArray reply;
        QStringList log;
    } cases[] = {
        {QStringLiteral("--cancel"),
         kCancelled,
         {kStart, kPortLine, kInitialized,
          QStringLiteral("pinPad1000se_get_pin: customer cancelled"), kSkipDebug}},
        // Three damaged answers, each asked for again, then EOT: nobody cancelled.
        {QStringLiteral("--damage=3"),
         gaveUp,
         {kStart, kPortLine, kInitialized,
          QStringLiteral("pinPad1000se_get_pin: The PIN pad on COM3 (%1) gave up resending a "
                         "damaged answer.")
              .arg(link()),
          QStringLiteral("pinPad1000se_get_pin: Error( 57)"),
          QStringLiteral("return_xml: ") + QString::fromLatin1(gaveUp)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option.toStdString());
        PinPadSimulator simulator;
        ASSERT_TRUE(simulator.start(link(), {c.option, QStringLiteral("--delay=0.1")}));
        startServer(link());
        EXPECT_EQ(request(kPinRequest, c.reply), c.reply);
        EXPECT_EQ(pinRequestLog(), c.log);
        EXPECT_EQ(server().stop(), 0);
    }
}

TEST_F(PinPadE2E, APadThatGoesAwayDuringTheWaitEndsItAtOnceWithError57)
{
    startPad({QStringLiteral("--silent")});
    startServer(link());
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    waiting.send("TIMER=60;" + kPinRequest);
    ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));

    QElapsedTimer sinceLoss;
    sinceLoss.start();
    pad().kill();
    const QByteArray lost = "<1000SE><ERROR>Error Getting PIN: Error( 57)</ERROR></1000SE>";
    EXPECT_EQ(waiting.receive(5000, lost.size()), lost);
    EXPECT_LT(sinceLoss.elapsed(), 3000);
    const QStringList log = pinRequestLog();
    EXPECT_EQ(log.mid(log.size() - 3),
              (QStringList{QStringLiteral("pinPad1000se_get_pin: The PIN pad on COM3 (%1) was "
                                          "lost.")
                               .arg(link()),
                           QStringLiteral("pinPad1000se_get_pin: Error( 57)"),
                           QStringLiteral("return_xml: ") + QString::fromLatin1(lost)}));

    // The port was closed with the error: an idle server spends no time on a dead line.
    const auto cpuTicks = [this] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(server().process().processId()));
        if (!stat.open(QIODevice::ReadOnly))
            return -1LL;
        const QList<QByteArray> fields = stat.readAll().split(' ');
        // utime and stime, the 14th and 15th fields (no blank in the program's name).
        return fields.value(13).toLongLong() + fields.value(14).toLongLong();
    };
    const long long before = cpuTicks();
    QThread::msleep(1000);
    EXPECT_LT(cpuTicks() - before, 20) << "of 100 per second";
    EXPECT_EQ(request("TRANS=VERSION;", kVersion), kVersion);
}

TEST_F(PinPadE2E, ASilentPadIsCancelledAfterTheTimerWhileOtherClientsAreServed)
{
    startPad({QStringLiteral("--silent")});
    startServer(link());
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    waiting.send("TIMER=2;" + kPinRequest);
    ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));

    // Served during the wait, not after it.
    TestClient other;
    ASSERT_TRUE(other.connectTo(server().port()));
    QElapsedTimer roundTrip;
    roundTrip.start();
    EXPECT_EQ(other.transact("TRANS=VERSION;", kVersion), kVersion);
    EXPECT_LT(roundTrip.elapsed(), 250);

    EXPECT_EQ(waiting.receive(8000, kCancelled.size()), kCancelled);
    EXPECT_GE(sinceRequest.elapsed(), 1900);
    EXPECT_TRUE(pad().waitForLine(QStringLiteral("PIN entry cancelled by the host")));
    // The VERSION request ran inside the wait.
    const QStringList log = pinRequestLog();
    EXPECT_EQ(log.mid(0, 3), (QStringList{kStart, kPortLine, kInitialized}));
    EXPECT_TRUE(log.contains(QStringLiteral("return_xml: ") + QString::fromLatin1(kVersion)));
    EXPECT_EQ(log.mid(log.size() - 2),
              (QStringList{QStringLiteral("pinPad1000se_get_pin: no answer in 2 s"), kSkipDebug}));
}

TEST_F(PinPadE2E, APinEntryWithoutATimerWaitsThePinTimeoutNotATimerThatAnotherTillSet)
{
    startPad({QStringLiteral("--silent")});
    startServer(link(), {}, QStringLiteral("PinTimeout=10\r\n"));
    // Another till sets a TIMER before the PIN request and another during its wait.
    TestClient other;
    ASSERT_TRUE(other.connectTo(server().port()));
    other.send("TIMER=1;");
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    QElapsedTimer sinceRequest;
    sinceRequest.start();
    waiting.send(kPinRequest);
    ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));
    other.send("TIMER=2;");

    EXPECT_EQ(waiting.receive(16000, kCancelled.size()), kCancelled);
    EXPECT_GE(sinceRequest.elapsed(), 9900);
    EXPECT_TRUE(pad().waitForLine(QStringLiteral("PIN entry cancelled by the host")));
    const QStringList log = pinRequestLog();
    EXPECT_EQ(log.mid(log.size() - 2),
              (QStringList{QStringLiteral("pinPad1000se_get_pin: no answer in 10 s"), kSkipDebug}));
}

TEST_F(PinPadE2E, APadThatCannotBeUsedGetsTheErrorReplyWithItsReason)
{
    struct Case
    {
        const char* name;
        QStringList padArguments; // no pad at all when empty
        QString parity;
        QString errorLine;
    };
    const QString label = QStringLiteral("COM3 (%1)").arg(link());
    const std::vector<Case> cases{
        {"port missing",
         {},
         {},
         QStringLiteral("code=[ 53] desc=[Cannot open %1: no such device.]").arg(label)},
        {"pad does not answer",
         {QStringLiteral("--mute")},
         {},
         QStringLiteral("code=[ 68] desc=[The PIN pad on %1 does not answer.]").arg(label)},
        {"parity that names none",
         {QStringLiteral("--delay"), QStringLiteral("0")},
         QStringLiteral("X"),
         QStringLiteral("code=[ 380] desc=[Cannot open %1: the parity [X] is not E, O, N, M or S.]")
             .arg(label)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PinPadSimulator simulator;
        if (!c.padArguments.isEmpty()) {
            ASSERT_TRUE(simulator.start(link(), c.padArguments));
        }
        startServer(link(), c.parity);
        EXPECT_EQ(request(kPinRequest, kPadFailed, 8000), kPadFailed);
        EXPECT_EQ(pinRequestLog(),
                  (QStringList{kStart,
                               QStringLiteral("pinPad1000se_get_pin: port=[3] baud=[] "
                                              "databits=[]"),
                               QStringLiteral("pinPad1000se_get_pin: pinpadError: ") + c.errorLine,
                               QStringLiteral("return_xml: ") + QString::fromLatin1(kPadFailed)}));
        EXPECT_EQ(server().stop(), 0);
    }
}

TEST_F(PinPadE2E, ARefusedPacketAndADamagedAnswerAreRecovered)
{
    startPad({QStringLiteral("--refuse"), QStringLiteral("1"), QStringLiteral("--damage"),
              QStringLiteral("1"), QStringLiteral("--delay"), QStringLiteral("0")});
    startServer(link());
    EXPECT_EQ(request(kPinRequest, kFirstPin), kFirstPin);
    const QStringList lines = pad().lines();
    // The host sent its first packet again, and asked again for the damaged answer.
    for (const char* line :
         {"refused a packet (NAK)", "display: WELCOME", "sent the answer with a damaged check byte",
          "the host asked for the answer again"})
        EXPECT_TRUE(lines.contains(QLatin1String(line))) << line;
    EXPECT_EQ(lines.count(QStringLiteral("display: WELCOME")), 1);
}

TEST_F(PinPadE2E, ASecondPinRequestWhileOneWaitsIsRefusedAndTheFirstGoesOn)
{
    startPad({QStringLiteral("--delay"), QStringLiteral("1.5")});
    startServer(link());
    TestClient first;
    ASSERT_TRUE(first.connectTo(server().port()));
    first.send(kPinRequest);
    ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));

    const QByteArray busy("<1000SE><ERROR>PIN Pad Busy</ERROR></1000SE>");
    EXPECT_EQ(request(kPinRequest, busy), busy);
    EXPECT_TRUE(server().logEntries().contains(
        QStringLiteral("Socket: DataArrival 1000SE PIN Pad Busy ip=[127.0.0.1]")));
    EXPECT_EQ(first.receive(5000, kFirstPin.size()), kFirstPin);
    // The refused request touched nothing: the pad saw one PIN request only.
    EXPECT_EQ(pad().lines().count(QStringLiteral("PIN requested for the card ending 8909")), 1);
    EXPECT_EQ(server().logEntries().count(QStringLiteral("pinPad1000se_get_pin: start")), 1);
}

TEST_F(PinPadE2E, ATillThatGaveUpHasItsPinEntryCancelledAndItsRetryServed)
{
    startPad({QStringLiteral("--silent")});
    startServer(link());
    {
        TestClient gaveUp;
        ASSERT_TRUE(gaveUp.connectTo(server().port()));
        gaveUp.send("TIMER=60;" + kPinRequest);
        ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));
    }
    EXPECT_TRUE(pad().waitForLine(QStringLiteral("PIN entry cancelled by the host"), 2000));
    ASSERT_TRUE(
        server().waitForLogEntry(QStringLiteral("pinPad1000se_get_pin: client gone"), 2000));

    // The retry reaches the pad (which stays silent; a short TIMER ends it).
    TestClient retry;
    ASSERT_TRUE(retry.connectTo(server().port()));
    retry.send("TIMER=1;" + kPinRequest);
    EXPECT_EQ(retry.receive(5000, kCancelled.size()), kCancelled);
    EXPECT_EQ(pad().lines().count(QStringLiteral("PIN requested for the card ending 8909")), 2);
}

TEST_F(PinPadE2E, ShutDownDuringAPinEntryEndsTheWait)
{
    startPad({QStringLiteral("--silent")});
    startServer(link());
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    waiting.send("TIMER=60;" + kPinRequest);
    ASSERT_TRUE(pad().waitForLine(QStringLiteral("PIN requested for the card ending 8909")));

    QElapsedTimer stopping;
    stopping.start();
    EXPECT_EQ(server().stop(), 0);
    EXPECT_LT(stopping.elapsed(), 3000);
    const QStringList log = server().logEntries();
    EXPECT_TRUE(log.contains(QStringLiteral("pinPad1000se_get_pin: Error( 18)")));
    EXPECT_EQ(log.value(log.size() - 1), QStringLiteral("Application Closed"));
    // The waiting client got the error reply before the server closed.
    EXPECT_EQ(waiting.receive(1000),
              QByteArray("<1000SE><ERROR>Error Getting PIN: Error( 18)</ERROR></1000SE>"));
}

TEST(PinPadSimulatorStart, AKeySerialNumberTheServerWouldRefuseIsRefusedAtStart)
{
    QTemporaryDir dir;
    const struct
    {
        const char* ksn;
        const char* why; // empty: it starts
    } cases[] = {
        {"FFFF9876543210E00001", ""},
        {"FFFFFFFFFFF6543E0001", "after its leading F's"}, // nine digits left
        {"FFFF9876543210E00000", "transaction counter"},
        {"FFFF9876543210E007FF", "transaction counter"}, // eleven bits set
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ksn);
        QProcess pad;
        pad.start(ServerProcess::binDir() + QStringLiteral("/varnel-pinpad"),
                  {QStringLiteral("--link"), dir.filePath(QStringLiteral("pinpad")),
                   QStringLiteral("--ksn"), QLatin1String(c.ksn)});
        ASSERT_TRUE(pad.waitForStarted(5000));
        if (*c.why == '\0') {
            ASSERT_TRUE(pad.waitForReadyRead(5000));
            EXPECT_TRUE(pad.readAllStandardOutput().startsWith("ready "));
            pad.terminate();
            EXPECT_TRUE(pad.waitForFinished(5000));
            continue;
        }
        ASSERT_TRUE(pad.waitForFinished(5000));
        EXPECT_EQ(pad.exitCode(), 2);
        EXPECT_TRUE(pad.readAllStandardError().contains(c.why));
        EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("pinpad"))));
    }
}

TEST(ServerProcessOnFailure, AFailedTestPrintsTheServersStandardErrorAndLogTail)
{
    auto server = std::make_unique<ServerProcess>();
    ASSERT_TRUE(server->start());
    const QString listening = QStringLiteral("Socket: Listening Port %1").arg(server->port());

    // As if the test had failed: its server says what it knows as it goes.
    ServerProcess::setFailureCheck([] { return true; });
    ::testing::internal::CaptureStderr();
    server.reset();
    const QString printed = QString::fromStdString(::testing::internal::GetCapturedStderr());
    ServerProcess::setFailureCheck([] { return ::testing::Test::HasFailure(); });

    EXPECT_TRUE(printed.contains(QStringLiteral("standard error"))) << printed.toStdString();
    EXPECT_TRUE(printed.contains(listening)) << printed.toStdString();
    EXPECT_TRUE(printed.contains(QStringLiteral("purge_log: finished"))) << printed.toStdString();
}
