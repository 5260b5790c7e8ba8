// End-to-end: STATUS polled by a till against the real server with its simulated pad. It
// changes nothing a waiting customer depends on, and costs the log one line a second.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include "serverprocess.h"

namespace {

const QByteArray kTimeoutReply("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
const QByteArray kStatusWhileSwiping("<STATUS><QP6100>busy</QP6100><1000SE>off</1000SE></STATUS>");
const QByteArray kStatusIdle("<STATUS><QP6100>ready</QP6100><1000SE>off</1000SE></STATUS>");

QStringList entriesWith(const QStringList& log, const QString& prefix)
{
    QStringList found;
    for (const QString& entry : log)
        if (entry.startsWith(prefix))
            found << entry;
    return found;
}

} // namespace

TEST(StatusPollE2E, AStatusFromAnotherTillLeavesAWaitingSwipesLimitAlone)
{
    ServerProcess server({}, {QStringLiteral("--simulate")});
    ASSERT_TRUE(server.start());
    const struct
    {
        const char* request;
        QByteArray reply;
        int limitSeconds; // when the swipe, asked with TIMER=3, gives up
    } cases[] = {
        {"TRANS=STATUS;TIMER=1;", kStatusWhileSwiping, 3},
        {"TIMER=1;TRANS=STATUS;ACTION=1;", kStatusWhileSwiping, 3},
        // A STATUS that fails to parse after its TIMER: no reply, and still no new limit.
        {"TRANS=STATUS;TIMER=1;NOEQUALS;", {}, 3},
        // Any other request's TIMER reaches the waiting swipe.
        {"TIMER=1;TRANS=VERSION;", "<VERSION>1.0.0</VERSION>", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        TestClient waiting;
        ASSERT_TRUE(waiting.connectTo(server.port()));
        QElapsedTimer sinceSwipe;
        sinceSwipe.start();
        waiting.send("TRANS=QP6100;ACTION=1;TIMER=3;");
        ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("qp6100_get_swipe: timeout=[3]")));

        TestClient asking;
        ASSERT_TRUE(asking.connectTo(server.port()));
        asking.send(c.request);
        EXPECT_EQ(asking.receive(c.reply.isEmpty() ? 300 : 3000, c.reply.size()), c.reply);
        EXPECT_EQ(waiting.receive(6000, kTimeoutReply.size()), kTimeoutReply);
        const qint64 tookMs = sinceSwipe.elapsed();
        EXPECT_GE(tookMs, c.limitSeconds * 1000 - 200);
        EXPECT_LT(tookMs, c.limitSeconds * 1000 + 1200);
        // The next case waits for its own swipe's first line.
        QFile::remove(server.home() + QStringLiteral("/varnelpayment.log"));
    }
}

TEST(StatusPollE2E, ABurstOfPollsIsOneLineAndThenOneCountedLine)
{
    ServerProcess server({}, {QStringLiteral("--simulate")});
    ASSERT_TRUE(server.start());
    const qsizetype before = server.logEntries().size();
    TestClient till;
    ASSERT_TRUE(till.connectTo(server.port()));
    TestClient other;
    ASSERT_TRUE(other.connectTo(server.port()));
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    for (int poll = 0; poll < 5; ++poll)
        ASSERT_EQ(till.transact("TRANS=STATUS;", kStatusIdle), kStatusIdle);
    ASSERT_EQ(other.transact("TRANS=STATUS;TIMER=9;", kStatusIdle), kStatusIdle);
    ASSERT_LT(sinceFirst.elapsed(), 900) << "the polls did not fall inside one second";
    const QString counted = QStringLiteral("Socket: STATUS ip=[127.0.0.1] count=[5]");
    ASSERT_TRUE(server.waitForLogEntry(counted, 3000));

    // After a quiet second the next poll is logged at once, alone, before its reply goes out.
    QThread::msleep(1100);
    ASSERT_EQ(till.transact("TRANS=STATUS;", kStatusIdle), kStatusIdle);

    const QStringList log = server.logEntries().mid(before);
    EXPECT_EQ(entriesWith(log, QStringLiteral("Socket: STATUS")),
              (QStringList{QStringLiteral("Socket: STATUS ip=[127.0.0.1]"), counted,
                           QStringLiteral("Socket: STATUS ip=[127.0.0.1]")}));
    EXPECT_TRUE(entriesWith(log, QStringLiteral("Socket: Transaction")).isEmpty());
    EXPECT_TRUE(entriesWith(log, QStringLiteral("Socket: DataArrival")).isEmpty());
    EXPECT_TRUE(entriesWith(log, QStringLiteral("return_xml")).isEmpty());
}
