#include "request/requestdispatcher.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include "core/failure.h"
#include "core/padtimeout.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/operation.h"
#include "request/replytext.h"
#include "request/requester.h"
#include "request/requestservice.h"
#include "request/requestvalues.h"
#include "testfiles.h"

namespace {

// An operation that waits until the test answers for the device.
class ManualOperation final : public Operation
{
public:
    ManualOperation(QString name, int& closings) : name(std::move(name)), m_closings(closings) {}

    void start(Finished done) override { finished = std::move(done); }
    void close() override
    {
        ++m_closings;
        if (closing)
            closing();
    }

    QString name;
    Finished finished;
    // What the operation does as it closes.
    std::function<void()> closing;

private:
    int& m_closings;
};

// Records every pad call in order, as "name(args)"; its swipes and signatures wait.
class RecordingPad final : public PadOperations
{
public:
    bool enabled = false;
    QStringList calls;
    std::vector<ManualOperation*> waiting;
    int closings = 0;
    std::function<void()> onClear;

    bool pad_enabled(bool logIfDisabled) override
    {
        calls << QStringLiteral("pad_enabled(%1)").arg(logIfDisabled);
        return enabled;
    }
    void clear_padVars() override
    {
        calls << QStringLiteral("clear_padVars");
        if (onClear)
            onClear();
    }
    std::unique_ptr<Operation> qp6100_get_swipe(StopWhen) override
    {
        calls << QStringLiteral("qp6100_get_swipe");
        return wait(QStringLiteral("swipe"));
    }
    void qp6100_delete_signature(const QString& f) override
    {
        calls << QStringLiteral("qp6100_delete_signature(%1)").arg(f);
    }
    void set_account_var(const QString& v) override
    {
        calls << QStringLiteral("set_account_var(%1)").arg(v);
    }
    void set_fullname_var(const QString& v) override
    {
        calls << QStringLiteral("set_fullname_var(%1)").arg(v);
    }
    void setVar(const QString& v) override { calls << QStringLiteral("setVar(%1)").arg(v); }
    std::unique_ptr<Operation> qp6100_get_signature(const QString& f, bool ftp, const QString& path,
                                                    StopWhen) override
    {
        calls << QStringLiteral("qp6100_get_signature(%1,%2,%3)").arg(f).arg(ftp).arg(path);
        return wait(QStringLiteral("signature"));
    }
    void pad_welcome() override { calls << QStringLiteral("pad_welcome"); }

private:
    std::unique_ptr<Operation> wait(const QString& name)
    {
        auto operation = std::make_unique<ManualOperation>(name, closings);
        waiting.push_back(operation.get());
        return operation;
    }
};

class RecordingPinPad final : public PinPadOperations
{
public:
    QStringList calls;
    std::vector<ManualOperation*> waiting;
    std::vector<std::optional<int>> timers;
    int closings = 0;
    std::unique_ptr<Operation> pinPad1000se_get_pin(const QString& card, const QString& total,
                                                    std::optional<int> timer, StopWhen) override
    {
        calls << card + QLatin1Char('/') + total;
        timers.push_back(timer);
        auto operation = std::make_unique<ManualOperation>(QStringLiteral("pin"), closings);
        waiting.push_back(operation.get());
        return operation;
    }
};

// A client that keeps what it is sent.
class RecordingRequester final : public Requester
{
public:
    QString peerAddress() const override { return QStringLiteral("10.1.2.3"); }
    bool isConnected() const override { return connected; }
    void send(const QByteArray& bytes) override { sent.append(QString::fromLatin1(bytes)); }

    bool connected = true;
    QStringList sent;
};

class DispatcherTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    FakeClock clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    ActivityLog log{dir.filePath(QStringLiteral("varnelpayment.log")), clock};
    RecordingPad pad;
    RecordingPinPad pinPad;
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
    // Answers the device's oldest waiting operation.
    static void answer(std::vector<ManualOperation*>& waiting, std::optional<Reply> reply)
    {
        ASSERT_FALSE(waiting.empty());
        ManualOperation* operation = waiting.front();
        waiting.erase(waiting.begin());
        operation->finished(std::move(reply));
    }

    QStringList logEntries() const { return TestFiles::logEntries(log.log_path()); }
    QStringList logWithout(const QString& prefix) const
    {
        QStringList kept;
        for (const QString& line : logEntries())
            if (!line.startsWith(prefix))
                kept.append(line);
        return kept;
    }
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
        QStringList padCalls;
        QString logged; // a line the transaction writes besides its frame and parse lines
    } cases[] = {
        {"TRANS=VERSION;ACTION=7;", false, {versionReply()}, {}, {}},
        // Trans types are case sensitive.
        {"TRANS=version;", false, {}, {}, QStringLiteral("Socket: DataArrival No TransType")},
        {"ACTION=1;", false, {}, {}, QStringLiteral("Socket: DataArrival No TransType")},
        {"TRANS=QP6100;ACTION=9;",
         false,
         {padNotSetupReply()},
         {QStringLiteral("pad_enabled(0)")},
         {}},
        {"TRANS=QP6100;ACTION=3;",
         true,
         {},
         {QStringLiteral("pad_enabled(0)"), QStringLiteral("clear_padVars"),
          QStringLiteral("clear_padVars")},
         {}},
        {"TRANS=QP6100;ACTION=9;",
         true,
         {},
         {QStringLiteral("pad_enabled(0)"), QStringLiteral("clear_padVars"),
          QStringLiteral("clear_padVars")},
         QStringLiteral("Socket: DataArrival QP6100 No Action(9)")},
        {"TRANS=1000SE;ACTION=1;",
         true,
         {},
         {},
         QStringLiteral("Socket: DataArrival 1000SE No Action(1)")},
        // An abort asks for the welcome form and never replies.
        {"TRANS=ABORT;ACTION=1;", true, {}, {QStringLiteral("pad_welcome")}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        QFile::remove(log.log_path());
        till.sent.clear();
        pad.calls.clear();
        pad.enabled = c.padEnabled;
        serve(c.text);

        EXPECT_EQ(till.sent, c.sent);
        EXPECT_EQ(pad.calls, c.padCalls);
        EXPECT_TRUE(pinPad.calls.isEmpty());
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
    pad.enabled = true;
    serve("TRANS=QP6100;ACTION=2;ACCOUNT=ACC;NAME=Ann;TOTAL=9.99;UNIQU=s;");
    const QString sigFile = dir.filePath(QStringLiteral("s.pcx"));
    EXPECT_EQ(
        pad.calls,
        (QStringList{
            QStringLiteral("pad_enabled(0)"), QStringLiteral("clear_padVars"),
            QStringLiteral("qp6100_delete_signature(%1)").arg(sigFile),
            QStringLiteral("set_account_var(ACC)"), QStringLiteral("set_fullname_var(Ann)"),
            QStringLiteral("setVar(9.99)"),
            QStringLiteral("qp6100_get_signature(%1,0,/vm/tavok/dsk37/170170/)").arg(sigFile)}));
    EXPECT_FALSE(logEntries().last().startsWith(QStringLiteral("Socket: Transaction End")));
    EXPECT_EQ(service.operationsUnderWay(), 1);

    // Card data leaves the log; the pad's variables are cleared after the reply has gone.
    qsizetype sentAtClear = -1;
    pad.onClear = [&] { sentAtClear = till.sent.size(); };
    answer(pad.waiting, Reply{QStringLiteral("<A>\r\nsecret</A>"), true});
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<A>secret</A>")});
    EXPECT_EQ(sentAtClear, 1);
    const QStringList lines = logEntries();
    EXPECT_EQ(lines.at(lines.size() - 2), QStringLiteral("return_xml: skipDebug=true"));
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Socket: Transaction End")));
    EXPECT_FALSE(lines.join(QLatin1Char('\n')).contains(QStringLiteral("secret")));
    pad.onClear = nullptr;

    // A client that went away gets nothing; the device is free again all the same.
    serve("TRANS=QP6100;ACTION=1;");
    till.connected = false;
    answer(pad.waiting, std::nullopt);
    EXPECT_EQ(till.sent.size(), 1);
    till.connected = true;
    serve("TRANS=QP6100;ACTION=1;");
    EXPECT_EQ(pad.waiting.size(), 1u);
    EXPECT_FALSE(logEntries().join(QLatin1Char('\n')).contains(QStringLiteral("Busy")));
}

TEST_F(DispatcherTest, AHeldDeviceRefusesItsRequestsAndNothingElseChanges)
{
    pad.enabled = true;
    const QString padBusy = QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[10.1.2.3]");
    const QString pinBusy = QStringLiteral("Socket: DataArrival 1000SE PIN Pad Busy ip=[10.1.2.3]");
    serve("TRANS=QP6100;ACTION=1;TIMER=30;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=9.99;");
    ASSERT_EQ(pad.waiting.size(), 1u);
    ASSERT_EQ(pinPad.waiting.size(), 1u);
    EXPECT_EQ(padTimeout.seconds(), 30);
    // What reached the pad beyond asking whether it is enabled.
    const auto padEffects = [&] {
        QStringList effects = pad.calls;
        effects.removeAll(QStringLiteral("pad_enabled(0)"));
        return effects;
    };
    const QStringList padCallsBefore = padEffects();

    const struct
    {
        const char* text;
        QString reply;
        QString busyLine;
    } refused[] = {
        {"TRANS=QP6100;ACTION=1;TIMER=2;", padBusyReply(), padBusy},
        {"TRANS=QP6100;ACTION=2;TIMER=2;UNIQU=other;", padBusyReply(), padBusy},
        {"TRANS=1000SE;ACTION=3;CREDITCARD=5500;TOTAL=1;TIMER=2;", pinPadBusyReply(), pinBusy},
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
        EXPECT_EQ(padEffects(), padCallsBefore);
        EXPECT_EQ(pinPad.calls.size(), 1);
    }
    // What does not wait still runs, for every till.
    otherTill.sent.clear();
    serve("TRANS=VERSION;", otherTill);
    serve("TRANS=ABORT;", otherTill);
    serve("TRANS=QP6100;ACTION=9;", otherTill);
    EXPECT_EQ(otherTill.sent, QStringList{versionReply()});
    EXPECT_TRUE(padEffects().contains(QStringLiteral("pad_welcome")));
    EXPECT_EQ(pad.calls.count(QStringLiteral("clear_padVars")),
              padCallsBefore.count(QStringLiteral("clear_padVars")));
    // A bare TIMER still changes what waits.
    serve("TIMER=45;", otherTill);
    EXPECT_EQ(padTimeout.seconds(), 45);

    // Each device answers on its own, in whatever order; then both are free.
    answer(pinPad.waiting, Reply{QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>")});
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>")});
    answer(pad.waiting, Reply{QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>")});
    EXPECT_EQ(till.sent.size(), 2);
    otherTill.sent.clear();
    serve("TRANS=QP6100;ACTION=1;", otherTill);
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=5500;TOTAL=1;", otherTill);
    EXPECT_TRUE(otherTill.sent.isEmpty());
    EXPECT_EQ(pad.waiting.size(), 1u);
    EXPECT_EQ(pinPad.waiting.size(), 1u);
}

TEST_F(DispatcherTest, APinEntryIsGivenOnlyTheTimerOfItsOwnRequest)
{
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;TIMER=15;");
    answer(pinPad.waiting, std::nullopt);
    serve("TIMER=10;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;");
    ASSERT_EQ(pinPad.timers.size(), 2u);
    EXPECT_EQ(pinPad.timers[0], std::optional<int>(15));
    EXPECT_EQ(pinPad.timers[1], std::nullopt);
}

TEST_F(DispatcherTest, ClosingEndsWhatWaitsAndSendsWhatItAnswersAsItCloses)
{
    pad.enabled = true;
    serve("TRANS=QP6100;ACTION=1;");
    serve("TRANS=1000SE;ACTION=3;CREDITCARD=4111;TOTAL=1;", otherTill);
    // The swipe answers that it was interrupted; the PIN entry just stops.
    ManualOperation* swipe = pad.waiting.front();
    const Operation::Finished swipeFinished = swipe->finished;
    swipe->closing = [swipeFinished] { swipeFinished(Reply{QStringLiteral("<interrupted/>")}); };
    service.close();
    EXPECT_EQ(pad.closings, 1);
    EXPECT_EQ(pinPad.closings, 1);
    EXPECT_EQ(service.operationsUnderWay(), 0);
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<interrupted/>")});
    EXPECT_TRUE(otherTill.sent.isEmpty());
    EXPECT_TRUE(logEntries().contains(QStringLiteral("return_xml: <interrupted/>")));
}

TEST(ReplyText, KeepsOnlyPrintableAscii)
{
    EXPECT_EQ(strRemoveNonPrintableChars(QStringLiteral("<A>\r\n\tx\x7f") + QChar(0xE9) +
                                         QStringLiteral(" ~</A>")),
              QStringLiteral("<A>x ~</A>"));
    EXPECT_EQ(strRemoveNonPrintableChars(QString(32767, QLatin1Char('a'))).size(), 32767);
    EXPECT_THROW(strRemoveNonPrintableChars(QString(32768, QLatin1Char('a'))), Failure);
}
