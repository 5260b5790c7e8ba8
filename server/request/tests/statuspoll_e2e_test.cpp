// End-to-end: STATUS polled by a till against the real server with its simulated pad. It
// changes nothing a waiting customer depends on.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>

#include "serverprocess.h"

namespace {

const QByteArray kTimeoutReply("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
const QByteArray kStatusWhileSwiping("<STATUS><QP6100>busy</QP6100><1000SE>off</1000SE></STATUS>");

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
