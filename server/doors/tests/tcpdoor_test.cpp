// The request server in-process: nested transactions while a pad operation waits.
#include "doors/tcpdoor.h"

#include <algorithm>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "core/clock.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "doors/admission.h"
#include "doors/connectionlimit.h"
#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/requestdispatcher.h"
#include "request/requestservice.h"
#include "serverprocess.h"
#include "testfiles.h"

namespace {

// A pad whose swipe steps every 5 ms on a timer until the test says the customer has swiped,
// then answers.
class WaitingPad final : public PadOperations
{
public:
    std::function<void(int)> duringWait;
    bool swiped = false;
    int swipesRunning = 0;

    bool pad_enabled(bool) override { return true; }
    void clear_padVars() override {}
    std::unique_ptr<Operation> qp6100_get_swipe() override
    {
        return std::make_unique<Swipe>(*this, ++swipesRunning);
    }
    std::unique_ptr<Operation> qp6100_get_signature(const SignatureRequest&) override
    {
        return nullptr;
    }
    void pad_welcome() override {}

private:
    class Swipe final : public Operation
    {
    public:
        Swipe(WaitingPad& pad, int number) : m_pad(pad), m_number(number)
        {
            QObject::connect(&m_step, &QTimer::timeout, [this] { step(); });
        }
        void start(Finished finished) override
        {
            m_finished = std::move(finished);
            m_step.start(5);
        }
        // Answers once swiped, whoever still waits: a reply to a client that left fails.
        void clientGone() override {}

    private:
        void step()
        {
            if (!m_pad.swiped && ++m_steps <= 400) {
                if (m_pad.duringWait)
                    m_pad.duringWait(m_number);
                return;
            }
            m_step.stop();
            m_finished(outcome::CardRead{QString::number(m_number), {}});
        }

        WaitingPad& m_pad;
        int m_number;
        int m_steps = 0;
        QTimer m_step;
        Finished m_finished;
    };
};

class NoPinPad final : public PinPadOperations
{
public:
    std::unique_ptr<Operation> pinPad1000se_get_pin(const PinRequest&) override { return nullptr; }
};

// Lets the test's own events run for a while, as the client side of the test waits.
struct LoopWait
{
    void wait(int milliseconds)
    {
        QEventLoop loop;
        QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
        loop.exec();
    }
};

class TcpDoorTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start_listening()); }

    // Connects a client and lets the server accept it.
    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, server.listeningPort());
        socket->waitForConnected(2000);
        pump.wait(20);
        return socket;
    }

    QStringList logEntries() const { return TestFiles::logEntries(log.log_path()); }

    QTemporaryDir dir;
    SystemClock clock;
    LoopWait pump;
    ActivityLog log{dir.filePath(QStringLiteral("varnelpayment.log")), clock};
    LocalSettings local{LocalFields{QString::number(ServerProcess::freePort())}};
    PadTimeout padTimeout;
    WaitingPad pad;
    NoPinPad pinPad;
    RequestDispatcher dispatcher{log, padTimeout, pad, pinPad};
    RequestService service{log, dispatcher, dir.filePath(QStringLiteral("signatures"))};
    ConnectionLimit limit;
    Admission admission{log, AccessPolicy(), limit};
    TcpDoor server{log, local, service, admission};
};

} // namespace

TEST_F(TcpDoorTest, NestedRequestsAreAnsweredOnTheirOwnConnections)
{
    auto first = connectClient();
    std::unique_ptr<QTcpSocket> second;
    std::unique_ptr<QTcpSocket> third;
    QByteArray secondGot;
    pad.duringWait = [&](int) {
        if (!second) {
            // While the first swipe waits, a second client asks for a swipe of its own,
            // and a third opens afterwards and asks for the version.
            second = connectClient();
            second->write("TRANS=QP6100;ACTION=1;");
        } else if (!third) {
            third = connectClient();
            third->write("TRANS=VERSION;");
        } else if (second->bytesAvailable() > 0 && third->bytesAvailable() > 0) {
            pad.swiped = true;
        }
    };
    first->write("TRANS=QP6100;ACTION=1;");
    first->waitForBytesWritten(1000);
    for (int i = 0; i < 100 && first->bytesAvailable() == 0; ++i)
        pump.wait(10);

    // One customer operation on the pad at a time: the second swipe is refused at once and
    // the card goes to the till that asked first.
    EXPECT_EQ(first->readAll(),
              QByteArray("<QP6100><SWIPE><TRACK1>1</TRACK1><TRACK2></TRACK2></SWIPE></QP6100>"));
    EXPECT_EQ(second->readAll(), QByteArray("<QP6100><ERROR>Pad Busy</ERROR></QP6100>"));
    EXPECT_EQ(third->readAll(), QByteArray("<VERSION>1.0.0</VERSION>"));
    EXPECT_EQ(pad.swipesRunning, 1);
    EXPECT_EQ(server.sockCount(), 3);
    EXPECT_TRUE(logEntries().contains(
        QStringLiteral("Socket: DataArrival QP6100 Pad Busy ip=[127.0.0.1]")));
}

TEST_F(TcpDoorTest, ReplyToAClosedConnectionFailsTheTransactionNotAnother)
{
    auto first = connectClient();
    auto bystander = connectClient();
    pad.duringWait = [&](int) {
        if (first && first->state() == QAbstractSocket::ConnectedState) {
            first->abort();
        } else if (server.sockCount() == 1) {
            pad.swiped = true;
        }
    };
    first->write("TRANS=QP6100;ACTION=1;");
    first->flush();
    for (int i = 0; i < 100 && !pad.swiped; ++i)
        pump.wait(10);
    pump.wait(50);

    EXPECT_EQ(bystander->bytesAvailable(), 0) << "the reply must not go to another client";
    EXPECT_TRUE(logEntries().contains(QStringLiteral("Socket: DataArrival Error( 40006)")));
    EXPECT_EQ(server.sockCount(), 1);
    bystander->write("TRANS=VERSION;");
    bystander->flush();
    for (int i = 0; i < 100 && bystander->bytesAvailable() == 0; ++i)
        pump.wait(10);
    EXPECT_EQ(bystander->readAll(), QByteArray("<VERSION>1.0.0</VERSION>"));
}

TEST_F(TcpDoorTest, RequestOnTheWaitingConnectionRunsNestedInTheWait)
{
    auto client = connectClient();
    bool sentSecond = false;
    pad.duringWait = [&](int) {
        if (!sentSecond) {
            client->write("TRANS=VERSION;");
            client->flush();
            sentSecond = true;
        } else if (client->bytesAvailable() > 0) {
            pad.swiped = true; // the version reply came during the wait
        }
    };
    client->write("TRANS=QP6100;ACTION=1;");
    client->flush();
    QByteArray got;
    for (int i = 0; i < 200 && got.size() < 85; ++i) {
        pump.wait(10);
        got += client->readAll();
    }
    // The version request is answered during the wait, before the swipe's own reply.
    EXPECT_EQ(got, QByteArray("<VERSION>1.0.0</VERSION><QP6100><SWIPE><TRACK1>1</TRACK1><TRACK2></"
                              "TRACK2></SWIPE></QP6100>"));
}

TEST_F(TcpDoorTest, ClosedConnectionsAreFreedHoweverTheyClose)
{
    // An oversized receipt: the server closes the connection itself, and the close that the
    // socket announces at once is handled once, with nothing touched afterwards.
    auto flooder = connectClient();
    flooder->write(QByteArray(TcpDoor::kMaxRequestBytes + 4096, 'A'));
    flooder->flush();
    for (int i = 0; i < 200 && flooder->state() == QAbstractSocket::ConnectedState; ++i)
        pump.wait(10);
    EXPECT_EQ(flooder->state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")), 1);

    // A thousand clients that connect and go, in small batches: none stays behind.
    constexpr int kClients = 1000;
    constexpr int kBatch = 50;
    for (int done = 0; done < kClients; done += kBatch) {
        std::vector<std::unique_ptr<QTcpSocket>> batch;
        for (int i = 0; i < kBatch; ++i) {
            batch.push_back(std::make_unique<QTcpSocket>());
            batch.back()->connectToHost(QHostAddress::LocalHost, server.listeningPort());
        }
        for (auto& client : batch)
            client->waitForConnected(2000);
        for (int i = 0; i < 200 && server.sockCount() < kBatch; ++i)
            pump.wait(5);
        ASSERT_EQ(server.sockCount(), kBatch);
        batch.clear();
        for (int i = 0; i < 200 && server.sockCount() > 0; ++i)
            pump.wait(5);
        ASSERT_EQ(server.sockCount(), 0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(server.findChildren<ClientConnection*>().isEmpty());
    EXPECT_EQ(logEntries().count(QStringLiteral("Socket: Close 127.0.0.1")), kClients + 1);
}

TEST_F(TcpDoorTest, ConnectionsOverTheCapAreClosedAtOnceAndLoggedOnceASecond)
{
    limit.setMax(2);
    auto first = connectClient();
    auto second = connectClient();
    std::vector<std::unique_ptr<QTcpSocket>> over;
    for (int i = 0; i < 5; ++i)
        over.push_back(connectClient());
    const auto anyOpen = [&] {
        return std::any_of(over.begin(), over.end(), [](const auto& client) {
            return client->state() != QAbstractSocket::UnconnectedState;
        });
    };
    for (int i = 0; i < 200 && anyOpen(); ++i)
        pump.wait(10);
    EXPECT_FALSE(anyOpen()) << "a connection over the cap is closed at once";
    EXPECT_EQ(server.sockCount(), 2);

    // The first refusal is logged at once, the four after it in one line a second later.
    pump.wait(ThrottledLine::kIntervalMs + 200);
    const QString refused = QStringLiteral(
        "Socket: ConnectionRequest Refused count=[%1] reason=[MaxConnections 2 reached]");
    QStringList refusals = logEntries().filter(QStringLiteral("Refused"));
    EXPECT_EQ(refusals, (QStringList{refused.arg(1), refused.arg(4)}));

    // A place that comes free is taken by the next client.
    first->disconnectFromHost();
    for (int i = 0; i < 200 && server.sockCount() > 1; ++i)
        pump.wait(10);
    auto next = connectClient();
    next->write("TRANS=VERSION;");
    next->flush();
    for (int i = 0; i < 200 && next->bytesAvailable() == 0; ++i)
        pump.wait(10);
    EXPECT_EQ(next->readAll(), QByteArray("<VERSION>1.0.0</VERSION>"));
}
