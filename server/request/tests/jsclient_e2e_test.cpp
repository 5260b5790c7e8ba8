// The JavaScript client against the real server (in node, whose WebSocket is a browser's): a
// call aborted by its signal ends its swipe on the box within a second, with no ABORT sent; after
// the server restarts, the next call reconnects and nothing is sent twice.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "serverprocess.h"

namespace {

// Reads one line of the till's output (at most `timeoutMs`), running nothing else meanwhile.
QByteArray readLine(QProcess& till, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!till.canReadLine() && !deadline.hasExpired() && till.state() == QProcess::Running)
        till.waitForReadyRead(50);
    return till.readLine().trimmed();
}

// The till: swipes, aborts the swipe after a second by its signal and says so; waits for a
// line on standard input (the server restarted), then asks for the version twice.
const char* const kTill = R"(
import { pathToFileURL } from 'node:url';
import { createInterface } from 'node:readline';
const { connect } = await import(pathToFileURL(process.argv[1]));
const lines = createInterface({ input: process.stdin })[Symbol.asyncIterator]();
const till = await connect(process.argv[2], { timeout: 5000 });
const controller = new AbortController();
const swipe = till.swipe({ timeout: 60, signal: controller.signal }).then(
    () => 'resolved', (e) => (e === controller.signal.reason ? 'reason' : `other ${e}`));
setTimeout(() => controller.abort(new Error('cashier')), 1000);
console.log(JSON.stringify({ aborted: await swipe }));
await lines.next();
const outcome = (p) => p.then((v) => v, (e) => `${e.code}`);
console.log(JSON.stringify({ first: await outcome(till.version()),
                             second: await outcome(till.version()) }));
till.close();
process.exit(0);
)";

} // namespace

TEST(JavaScriptClient, AnAbortedSwipeEndsOnTheBoxAndTheClientReconnectsAfterARestart)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[WebSocket]\r\nPort=%1\r\n").arg(wsPort),
                         QStringList{QStringLiteral("--simulate")});
    ASSERT_TRUE(server.start());

    QProcess till;
    till.start(QStringLiteral("node"),
               {QStringLiteral("--experimental-websocket"), QStringLiteral("--no-warnings"),
                QStringLiteral("--input-type=module"), QStringLiteral("-e"),
                QString::fromLatin1(kTill), QStringLiteral(VARNEL_JS_CLIENT),
                QStringLiteral("ws://127.0.0.1:%1").arg(wsPort)});
    ASSERT_TRUE(till.waitForStarted(5000));
    const QByteArray aborted = readLine(till, 15000);
    QElapsedTimer sinceAbort;
    sinceAbort.start();
    EXPECT_EQ(QJsonDocument::fromJson(aborted).object().value(QStringLiteral("aborted")),
              QStringLiteral("reason"))
        << aborted.constData() << till.readAllStandardError().constData();
    // The box ends the swipe at its next half-second step and shows the welcome form.
    EXPECT_TRUE(server.waitForLogEntry(QStringLiteral("qp6100_get_swipe: client gone"), 1000));
    EXPECT_LT(sinceAbort.elapsed(), 1000);
    EXPECT_TRUE(server.logEntries().filter(QStringLiteral("ABORT")).isEmpty());

    // The server restarts on the same ports; the till's next calls reconnect by themselves.
    EXPECT_EQ(server.stop(), 0);
    // A fresh log, so that the start is seen in the restarted server's own lines.
    QFile::remove(server.home() + QStringLiteral("/varnelpayment.log"));
    ASSERT_TRUE(server.start());
    till.write("restarted\n");
    const QByteArray after = readLine(till, 15000);
    const QJsonObject versions = QJsonDocument::fromJson(after).object();
    EXPECT_EQ(versions.value(QStringLiteral("first")), QStringLiteral("1.0.0"))
        << after.constData();
    EXPECT_EQ(versions.value(QStringLiteral("second")), QStringLiteral("1.0.0"));
    EXPECT_TRUE(till.waitForFinished(5000));
    // The restarted server saw the two VERSIONs and nothing sent again.
    const QStringList log = server.logEntries();
    EXPECT_EQ(log.filter(QStringLiteral("Socket: Transaction Start")).size(), 2);
    EXPECT_TRUE(log.filter(QStringLiteral("ACTION")).isEmpty());
}

namespace {

// The till: pairs by the code it is given, then swipes with the key it got; a second client
// without a key swipes too. Prints what each call led to.
const char* const kPairingTill = R"(
import { pathToFileURL } from 'node:url';
const { connect } = await import(pathToFileURL(process.argv[1]));
const outcome = (p) => p.then((v) => v, (e) => `${e.code}: ${e.message}`);
const till = await connect(process.argv[2], { timeout: 5000 });
const key = await outcome(till.pair(process.argv[3]));
const swipe = await outcome(till.swipe({ timeout: 1 }));
const stranger = await connect(process.argv[2], { timeout: 5000 });
const refused = await outcome(stranger.swipe({ timeout: 1 }));
const again = await outcome(stranger.pair(process.argv[3]));
console.log(JSON.stringify({ key, swipe, refused, again }));
till.close();
stranger.close();
process.exit(0);
)";

} // namespace

TEST(JavaScriptClient, APairedTillSendsItsKeyAndAStrangerIsToldNotAuthorised)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(
        QStringLiteral("[WebSocket]\r\nPort=%1\r\n[Tills]\r\nRequireKey=Y\r\n").arg(wsPort),
        QStringList{QStringLiteral("--simulate")});
    ASSERT_TRUE(server.start());
    QProcess offer;
    offer.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"),
                {QStringLiteral("--home"), server.home(), QStringLiteral("--pair-till"),
                 QStringLiteral("Web Till")});
    ASSERT_TRUE(offer.waitForFinished(30000));
    const QString code =
        QString::fromLatin1(offer.readAllStandardOutput()).trimmed().section(QLatin1Char('\n'), -1);

    QProcess till;
    till.start(QStringLiteral("node"),
               {QStringLiteral("--experimental-websocket"), QStringLiteral("--no-warnings"),
                QStringLiteral("--input-type=module"), QStringLiteral("-e"),
                QString::fromLatin1(kPairingTill), QStringLiteral(VARNEL_JS_CLIENT),
                QStringLiteral("ws://127.0.0.1:%1").arg(wsPort), code.toLower()});
    ASSERT_TRUE(till.waitForStarted(5000));
    const QByteArray line = readLine(till, 20000);
    const QJsonObject result = QJsonDocument::fromJson(line).object();
    const QString key = result.value(QStringLiteral("key")).toString();
    EXPECT_EQ(key.size(), 32) << line.constData() << till.readAllStandardError().constData();
    // The key got the swipe past the check: it ended on the pad, not at the door.
    EXPECT_FALSE(result.value(QStringLiteral("swipe"))
                     .toString()
                     .startsWith(QStringLiteral("not-authorised")))
        << line.constData();
    EXPECT_EQ(result.value(QStringLiteral("refused")),
              QStringLiteral("not-authorised: Not Authorised"));
    EXPECT_EQ(result.value(QStringLiteral("again")), QStringLiteral("not-authorised: Wrong Code"));
    EXPECT_TRUE(server.logEntries().contains(QStringLiteral("Socket: Till name=[Web Till]")));
}
