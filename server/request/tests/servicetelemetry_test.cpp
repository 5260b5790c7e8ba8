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
#include "request/replyformatter.h"
#include "request/requestdispatcher.h"
#include "request/requester.h"
#include "request/requestservice.h"
#include "waitingdevices.h"

namespace {

class Till final : public Requester
{
public:
    QString peerAddress() const override { return QStringLiteral("10.0.0.9"); }
    bool isConnected() const override { return connected; }
    void send(const QByteArray& bytes) override { sent.append(QString::fromLatin1(bytes)); }
    void hangUp() override {}
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
    void replySent(DeviceId device, ReplyOutcome outcome, bool) override
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

} // namespace

QString status(const char* pad, const char* pinPad)
{
    return QStringLiteral("<STATUS><QP6100>%1</QP6100><1000SE>%2</1000SE></STATUS>")
        .arg(QLatin1String(pad), QLatin1String(pinPad));
}

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
    EXPECT_EQ(till.sent, QStringList{status("ready", "disconnected")});
    serve(waiting, "TRANS=QP6100;ACTION=1;TIMER=30;");
    pinPadPort = true;
    serve(till, "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=1.00;");
    // Both held: STATUS still answers at once, and a swipe is refused busy.
    serve(till, "TRANS=STATUS;");
    EXPECT_EQ(till.sent, QStringList{status("busy", "busy")});
    serve(till, "TRANS=QP6100;ACTION=1;");
    EXPECT_EQ(till.sent, QStringList{QStringLiteral("<QP6100><ERROR>Pad Busy</ERROR></QP6100>")});
    pinPad.answer(outcome::Cancelled{});
    // The client that waits for the swipe has gone unannounced: the ending still counts.
    waiting.connected = false;
    pad.answer(outcome::TimedOut{});
    pad.enabled = false;
    pinPadTicked = false;
    serve(till, "TRANS=QP6100;ACTION=1;");
    serve(till, "TRANS=STATUS;TIMER=5;");
    EXPECT_EQ(till.sent, QStringList{status("off", "off")});
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

TEST(ServiceTelemetryTest, StatusShowsOffDisconnectedBusyOrReadyForEachDevice)
{
    struct Switches
    {
        bool ticked;
        bool reachable;
        bool busy;
    };
    struct Case
    {
        Switches pad;
        Switches pinPad;
        const char* reply;
    };
    const Case cases[] = {
        {{false, false, false},
         {false, false, false},
         "<STATUS><QP6100>off</QP6100><1000SE>off</1000SE></STATUS>"},
        // A device whose box is not ticked is off, whatever else holds.
        {{false, true, true},
         {true, true, false},
         "<STATUS><QP6100>off</QP6100><1000SE>ready</1000SE></STATUS>"},
        {{true, false, false},
         {true, false, true},
         "<STATUS><QP6100>disconnected</QP6100><1000SE>busy</1000SE></STATUS>"},
        {{true, true, true},
         {true, false, false},
         "<STATUS><QP6100>busy</QP6100><1000SE>disconnected</1000SE></STATUS>"},
    };
    for (const Case& c : cases) {
        Switches pad = c.pad;
        Switches pinPad = c.pinPad;
        auto probes = [](Switches& s) {
            return DeviceBoard::Probes{[&s] { return s.ticked; }, [&s] { return s.reachable; },
                                       [&s] { return s.busy; }};
        };
        const DeviceBoard board(probes(pad), probes(pinPad));
        const std::optional<Reply> reply =
            replyFor(outcome::Status{DeviceBoard::statusName(board.status(DeviceId::Pad)),
                                     DeviceBoard::statusName(board.status(DeviceId::PinPad))});
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->xml, QLatin1String(c.reply));
    }
}
