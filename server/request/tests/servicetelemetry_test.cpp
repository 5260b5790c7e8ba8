// What the request service tells its watcher, and STATUS, with operations that wait until the
// test answers for the device: a till asks while the pad is held, is refused busy, and every
// reply's ending is read in the service's one reply path.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include <QTemporaryDir>

#include "core/deviceboard.h"
#include "core/padtimeout.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requester.h"
#include "request/requestservice.h"

namespace {

class WaitingOperation final : public Operation
{
public:
    void start(Finished done) override { finished = std::move(done); }
    Finished finished;
};

// A pad whose swipes wait for the test; ticked or not as the test sets.
class WaitingPad final : public PadOperations
{
public:
    bool enabled = true;
    std::vector<WaitingOperation*> waiting;

    bool pad_enabled(bool) override { return enabled; }
    void clear_padVars() override {}
    std::unique_ptr<Operation> qp6100_get_swipe(StopWhen) override { return wait(); }
    void qp6100_delete_signature(const QString&) override {}
    void set_account_var(const QString&) override {}
    void set_fullname_var(const QString&) override {}
    void setVar(const QString&) override {}
    std::unique_ptr<Operation> qp6100_get_signature(const QString&, bool, const QString&,
                                                    StopWhen) override
    {
        return wait();
    }
    void pad_welcome() override {}

    std::unique_ptr<Operation> wait()
    {
        auto operation = std::make_unique<WaitingOperation>();
        waiting.push_back(operation.get());
        return operation;
    }
};

class WaitingPinPad final : public PinPadOperations
{
public:
    std::vector<WaitingOperation*> waiting;
    std::unique_ptr<Operation> pinPad1000se_get_pin(const QString&, const QString&,
                                                    std::optional<int>, StopWhen) override
    {
        auto operation = std::make_unique<WaitingOperation>();
        waiting.push_back(operation.get());
        return operation;
    }
};

class Till final : public Requester
{
public:
    QString peerAddress() const override { return QStringLiteral("10.0.0.9"); }
    bool isConnected() const override { return connected; }
    void send(const QByteArray& bytes) override { sent.append(QString::fromLatin1(bytes)); }
    bool connected = true;
    QStringList sent;
};

// Writes down what it is told, in words.
class RecordingTelemetry final : public Telemetry
{
public:
    void requestReceived(const QString& trans) override
    {
        events << QStringLiteral("request ") + trans;
    }
    void replySent(DeviceId device, ReplyOutcome outcome) override
    {
        static const char* const outcomes[] = {"ok", "timeout", "busy", "cancelled", "error"};
        events << QStringLiteral("reply %1 %2")
                      .arg(QLatin1String(DeviceBoard::deviceName(device)),
                           QLatin1String(outcomes[int(outcome)]));
    }
    void operationTook(OperationKind operation, double seconds) override
    {
        static const char* const operations[] = {"swipe", "signature", "upload", "pin"};
        events << QStringLiteral("took ") + QLatin1String(operations[int(operation)]);
        longest = std::max(longest, seconds);
    }
    QStringList events;
    double longest = 0;
};

void answer(std::vector<WaitingOperation*>& waiting, const QString& xml)
{
    ASSERT_FALSE(waiting.empty());
    WaitingOperation* operation = waiting.front();
    waiting.erase(waiting.begin());
    operation->finished(Reply{xml, false});
}

} // namespace

TEST(ServiceTelemetryTest, StatusAndEveryReplysEndingWhileTheDevicesAreHeld)
{
    QTemporaryDir dir;
    FakeClock clock{QDateTime(QDate(2026, 12, 10), QTime(5, 0))};
    ActivityLog log{dir.filePath(QStringLiteral("varnelpayment.log")), clock};
    WaitingPad pad;
    WaitingPinPad pinPad;
    PadTimeout padTimeout;
    bool pinPadTicked = true;
    bool pinPadPort = false;
    std::unique_ptr<RequestDispatcher> dispatcher;
    const DeviceBoard board(
        {[&] { return pad.enabled; }, [] { return true; }, [&] { return dispatcher->padHeld(); }},
        {[&] { return pinPadTicked; }, [&] { return pinPadPort; },
         [&] { return dispatcher->pinPadHeld(); }});
    dispatcher = std::make_unique<RequestDispatcher>(log, padTimeout, pad, pinPad, &board);
    RecordingTelemetry telemetry;
    RequestService service{log, *dispatcher, dir.path(), telemetry};
    Till till;
    Till waiting;
    auto serve = [&](Till& from, const char* text) {
        from.sent.clear();
        service.serve(&from, from.peerAddress(), QByteArray(text));
    };

    serve(till, "TRANS=STATUS;");
    EXPECT_EQ(till.sent, QStringList{statusReply("ready", "disconnected")});
    serve(waiting, "TRANS=QP6100;ACTION=1;TIMER=30;");
    pinPadPort = true;
    serve(till, "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=1.00;");
    // Both held: STATUS still answers at once, and a swipe is refused busy.
    serve(till, "TRANS=STATUS;");
    EXPECT_EQ(till.sent, QStringList{statusReply("busy", "busy")});
    serve(till, "TRANS=QP6100;ACTION=1;");
    EXPECT_EQ(till.sent, QStringList{padBusyReply()});
    answer(pinPad.waiting, QStringLiteral("<1000SE><CANCEL>1</CANCEL></1000SE>"));
    // The client that waits for the swipe has gone: the ending still counts.
    waiting.connected = false;
    answer(pad.waiting, QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
    pad.enabled = false;
    pinPadTicked = false;
    serve(till, "TRANS=QP6100;ACTION=1;");
    serve(till, "TRANS=STATUS;TIMER=5;");
    EXPECT_EQ(till.sent, QStringList{statusReply("off", "off")});
    serve(till, "TRANS=VERSION;");
    serve(till, "TRANS=NONSENSE;");

    EXPECT_EQ(telemetry.events,
              (QStringList{QStringLiteral("request STATUS"), QStringLiteral("request QP6100"),
                           QStringLiteral("request 1000SE"), QStringLiteral("request STATUS"),
                           QStringLiteral("request QP6100"), QStringLiteral("reply pad busy"),
                           QStringLiteral("took pin"), QStringLiteral("reply pinpad cancelled"),
                           QStringLiteral("took swipe"), QStringLiteral("reply pad timeout"),
                           QStringLiteral("request QP6100"), QStringLiteral("reply pad error"),
                           QStringLiteral("request STATUS"), QStringLiteral("request VERSION"),
                           QStringLiteral("request NONSENSE")}));
    EXPECT_GE(telemetry.longest, 0.0);
    EXPECT_LT(telemetry.longest, 5.0);
}
