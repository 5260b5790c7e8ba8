// The request service over devices whose operations wait until the test answers: what is
// answered at once, what waits, what a held device refuses, a client that leaves, closing.
#include "request/requestdispatcher.h"

#include <optional>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "core/failure.h"
#include "core/padtimeout.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "request/replyformatter.h"
#include "request/requester.h"
#include "request/requestservice.h"
#include "testfiles.h"
#include "waitingdevices.h"

namespace {

const QString kVersion = QStringLiteral("<VERSION>1.0.0</VERSION>");
const QString kPadBusy = QStringLiteral("<QP6100><ERROR>Pad Busy</ERROR></QP6100>");
const QString kPinPadBusy = QStringLiteral("<1000SE><ERROR>PIN Pad Busy</ERROR></1000SE>");
const QString kNotSetUp =
    QStringLiteral("<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>");

// A client that keeps what it is sent.
class RecordingRequester final : public Requester
{
public:
    QString peerAddress() const override { return QStringLiteral("10.1.2.3"); }
    bool isConnected() const override { return connected; }
    void send(const QByteArray& bytes) override { sent.append(QString::fromLatin1(bytes)); }
    void hangUp() override {}
    void leave()
    {
        connected = false;
        Q_EMIT gone();
    }

    bool connected = true;
    QStringList sent;
};

class DispatcherTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    ActivityLog log{dir.filePath(QStringLiteral("varnelpayment.log")), clock};
    WaitingPad pad;
    WaitingPinPad pinPad;
    PadTimeout padTimeout;
    RequestDispatcher dispatcher{log, padTimeout, pad, pinPad};
    RequestService service{log, dispatcher, dir.path()};
    RecordingRequester till;
    RecordingRequester otherTill;

    void serve(const char* text, RecordingRequester& from)
    {
        service.serve(&from, from.peerAddress(), QByteArray(text));
    }
    void serve(const char* text) { serve(text, till); }
    QStringList logEntries() const { return TestFiles::logEntries(log.log_path()); }
};

} // namespace

TEST_F(DispatcherTest, RequestsThatDoNotWaitAreAnsweredAtOnce)
{
    const QString start = QStringLiteral("Socket: Transaction Start ");
    const QString end = QStringLiteral("Socket: Transaction End ");
    const struct
    {
        const char* text;
        bool padEnabled;
        QStringList sent;
        int clears;     // times the pad's variables were cleared
        int welcomes;   // times the pad was sent to its welcome form
        QString logged; // a line the transaction writes besides its frame and parse lines
    } cases[] = {
        {"TRANS=VERSION;ACTION=7;", false, {kVersion}, 0, 0, {}},
        // Trans types are case sensitive.
        {"TRANS=version;", false, {}, 0, 0, QStringLiteral("Socket: DataArrival No TransType")},
        {"ACTION=1;", false, {}, 0, 0, QStringLiteral("Socket: DataArrival No TransType")},
        {"TRANS=STATUS;", true, {}, 0, 0, QStringLiteral("Socket: DataArrival No TransType")},
        {"TRANS=QP6100;ACTION=9;", false, {kNotSetUp}, 0, 0, {}},
        {"TRANS=QP6100;ACTION=1;", false, {kNotSetUp}, 0, 0, {}},
        {"TRANS=QP6100;ACTION=3;", true, {}, 2, 0, {}},
        {"TRANS=QP6100;ACTION=9;",
         true,
         {},
         2,
         0,
         QStringLiteral("Socket: DataArrival QP6100 No Action(9)")},
        {"TRANS=1000SE;ACTION=1;",
         true,
         {},
         0,
         0,
         QStringLiteral("Socket: DataArrival 1000SE No Action(1)")},
        // An abort asks for the welcome form and never replies.
        {"TRANS=ABORT;ACTION=1;", true, {}, 0, 1, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QFile::remove(log.log_path());
        till.sent.clear();
        pad.clears = 0;
        pad.welcomes = 0;
        pad.enabled = c.padEnabled;
        serve(c.text);

        EXPECT_EQ(till.sent, c.sent);
        EXPECT_EQ(pad.clears, c.clears);
        EXPECT_EQ(pad.welcomes, c.welcomes);
        EXPECT_TRUE(pad.waiting.empty());
        EXPECT_TRUE(pinPad.requests.empty());
        const QStringList lines = logEntries();
        EXPECT_TRUE(lines.first().startsWith(start));
        EXPECT_TRUE(lines.last().startsWith(end));
        if (!c.logged.isEmpty())
            EXPECT_TRUE(lines.contains(c.logged));
        for (const QString& reply : c.sent)
            EXPECT_TRUE(lines.contains(QStringLiteral("return_xml: ") + reply));
    }
}

TEST_F(DispatcherTest, AWaitingOperationEndsItsTransactionWhenItAnswers)
{
    serve("TRANS=QP6100;ACTION=2;ACCOUNT=ACC;NAME=Ann;TOTAL=9.99;UNIQU=s;");
    // The signature is handed everything it needs at once.
    ASSERT_EQ(pad.signatures.size(), 1u);
    const SignatureRequest& asked = pad.signatures.front();
    EXPECT_EQ(asked.sigFile, dir.filePath(QStringLiteral("s.pcx")));
    EXPECT_EQ(asked.account, QStringLiteral("ACC"));
    EXPECT_EQ(asked.name, QStringLiteral("Ann"));
    EXPECT_EQ(asked.total, QStringLiteral("9.99"));
    EXPECT_FALSE(asked.doFtp);
    EXPECT_EQ(asked.ftpPath, QStringLiteral("/vm/tavok/dsk37/170170/"));
    EXPECT_FALSE(logEntries().last().startsWith(QStringLiteral("Socket: Transaction End")));
    EXPECT_EQ(service.operationsUnderWay(), 1);

    // Card data leaves the log; the reply is cleaned of what is not printable.
    pad.answer(outcome::CardRead{QStringLiteral("%B41\r\n11^A^29?"), QStringLiteral("secret")});
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<QP6100><SWIPE><TRACK1>%B4111^A^29?</TRACK1>"
                                                    "<TRACK2>secret</TRACK2></SWIPE></QP6100>")});
    const QStringList lines = logEntries();
    EXPECT_EQ(lines.at(lines.size() - 2), QStringLiteral("return_xml: skipDebug=true"));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Socket: Transaction End")));
    EXPECT_FALSE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("secret")));
}

TEST_F(DispatcherTest, AClientThatLeavesEndsItsOperationAtOnceAndFreesTheDevice)
{
    serve("TRANS=QP6100;ACTION=1;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;", otherTill);
    ASSERT_EQ(service.operationsUnderWay(), 2);
    till.leave();
    otherTill.leave();
    // Nothing answered, nothing logged as a failure; both devices are free for the next till.
    EXPECT_TRUE(pad.waiting.empty());
    EXPECT_TRUE(pinPad.waiting.empty());
    EXPECT_TRUE(till.sent.isEmpty());
    EXPECT_TRUE(logEntries().filter(QStringLiteral("Error(")).isEmpty());
    RecordingRequester next;
    serve("TRANS=QP6100;ACTION=1;", next);
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;", next);
    EXPECT_TRUE(next.sent.isEmpty());
    EXPECT_EQ(pad.waiting.size(), 1u);
    EXPECT_EQ(pinPad.waiting.size(), 1u);

    // A request whose client has gone before it is served still runs, and ends at once.
    next.leave();
    EXPECT_TRUE(pad.waiting.empty());
    EXPECT_TRUE(pinPad.waiting.empty());
    const int swipesBefore = pad.clears;
    serve("TRANS=QP6100;ACTION=1;", next);
    EXPECT_EQ(pad.clears, swipesBefore + 1);
    EXPECT_TRUE(pad.waiting.empty());
    EXPECT_FALSE(logEntries().join(QLatin1Char('\n')).contains(QStringLiteral("Busy")));
}

TEST_F(DispatcherTest, AHeldDeviceRefusesItsRequestsAndNothingElseChanges)
{
    const QString padBusy = QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[10.1.2.3]");
    const QString pinBusy = QStringLiteral("Socket: DataArrival 1000SE PIN Pad Busy ip=[10.1.2.3]");
    serve("TRANS=QP6100;ACTION=1;TIMER=30;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=9.99;");
    ASSERT_EQ(pad.waiting.size(), 1u);
    ASSERT_EQ(pinPad.waiting.size(), 1u);
    EXPECT_EQ(padTimeout.seconds(), 30);
    const int clearsBefore = pad.clears;

    const struct
    {
        const char* text;
        QString reply;
        QString busyLine;
    } refused[] = {
        {"TRANS=QP6100;ACTION=1;TIMER=2;", kPadBusy, padBusy},
        {"TRANS=QP6100;ACTION=2;TIMER=2;UNIQU=other;", kPadBusy, padBusy},
        {"TRANS=1000SE;ACTION=3;CREDITCARD=5500;TOTAL=1;TIMER=2;", kPinPadBusy, pinBusy},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.text);
        otherTill.sent.clear();
        QFile::remove(log.log_path());
        serve(r.text, otherTill);
        EXPECT_EQ(otherTill.sent, QStringList{r.reply});
        EXPECT_TRUE(logEntries().contains(r.busyLine));
        // Its TIMER never reaches the waiting swipe; the pad's variables stay the holder's.
        EXPECT_EQ(padTimeout.seconds(), 30);
        EXPECT_EQ(pad.clears, clearsBefore);
        EXPECT_TRUE(pad.signatures.empty());
        EXPECT_EQ(pinPad.requests.size(), 1u);
    }
    // What does not wait still runs, for every till; a pad command leaves the variables alone.
    otherTill.sent.clear();
    serve("TRANS=VERSION;", otherTill);
    serve("TRANS=ABORT;", otherTill);
    serve("TRANS=QP6100;ACTION=9;", otherTill);
    EXPECT_EQ(otherTill.sent, QStringList{kVersion});
    EXPECT_EQ(pad.welcomes, 1);
    EXPECT_EQ(pad.clears, clearsBefore);
    // A bare TIMER still changes what waits.
    serve("TIMER=45;", otherTill);
    EXPECT_EQ(padTimeout.seconds(), 45);

    // Each device answers on its own, in whatever order; then both are free.
    pinPad.answer(outcome::Cancelled{});
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>")});
    pad.answer(outcome::TimedOut{});
    EXPECT_EQ(till.sent.last(), QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
    otherTill.sent.clear();
    serve("TRANS=QP6100;ACTION=1;", otherTill);
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=5500;TOTAL=1;", otherTill);
    EXPECT_TRUE(otherTill.sent.isEmpty());
    EXPECT_EQ(pad.waiting.size(), 1u);
    EXPECT_EQ(pinPad.waiting.size(), 1u);
    // A pad whose box is no longer ticked says so rather than busy.
    pad.enabled = false;
    serve("TRANS=QP6100;ACTION=1;", otherTill);
    EXPECT_EQ(otherTill.sent, QStringList{kNotSetUp});
}

TEST_F(DispatcherTest, APinEntryIsGivenOnlyTheTimerOfItsOwnRequest)
{
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;TIMER=15;");
    pinPad.answer(outcome::Cancelled{});
    serve("TIMER=10;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;");
    ASSERT_EQ(pinPad.requests.size(), 2u);
    EXPECT_EQ(pinPad.requests[0].timerSeconds, std::optional<int>(15));
    EXPECT_EQ(pinPad.requests[1].timerSeconds, std::nullopt);
    EXPECT_EQ(pinPad.requests[1].creditCard, QStringLiteral("4111"));
    // The shared limit follows every TIMER all the same.
    EXPECT_EQ(padTimeout.seconds(), 10);
}

TEST_F(DispatcherTest, ClosingEndsWhatWaitsAndSendsWhatItAnswersAsItCloses)
{
    serve("TRANS=QP6100;ACTION=1;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;", otherTill);
    // The swipe answers that it was interrupted; the PIN entry just stops.
    pad.waiting.front()->closing = [](Operation::Finished& finished) {
        Operation::finishOnce(finished, outcome::Failed{OperationKind::Swipe, 18});
    };
    service.close();
    EXPECT_EQ(pad.closings, 1);
    EXPECT_EQ(pinPad.closings, 1);
    EXPECT_EQ(service.operationsUnderWay(), 0);
    const QString interrupted =
        QStringLiteral("<QP6100><ERROR>Error Getting Swipe: Error( 18)</ERROR></QP6100>");
    EXPECT_EQ(till.sent, QStringList{interrupted});
    EXPECT_TRUE(otherTill.sent.isEmpty());
    EXPECT_TRUE(logEntries().contains(QStringLiteral("return_xml: ") + interrupted));
}

TEST(ReplyText, KeepsOnlyPrintableAscii)
{
    EXPECT_EQ(strRemoveNonPrintableChars(QStringLiteral("<A>\r\n\tx\x7f") + QChar(0xE9) +
                                         QStringLiteral(" ~</A>")),
              QStringLiteral("<A>x ~</A>"));
    EXPECT_EQ(strRemoveNonPrintableChars(QString(32767, QLatin1Char('a'))).size(), 32767);
    EXPECT_THROW(strRemoveNonPrintableChars(QString(32768, QLatin1Char('a'))), Failure);
}
