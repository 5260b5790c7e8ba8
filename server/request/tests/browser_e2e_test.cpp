// End-to-end in a real browser: headless Chromium opens a till page served from loopback that
// uses clients/js/varnel.js against the real server's WebSocket port, with varnel-pad at the
// simulated pad.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "pageserver.h"
#include "serverprocess.h"
#include "simulatedanswers.h"

namespace {

// A till page: runs `script` (the body of an async function with `till` connected to `wsUrl`,
// returning the result) and posts the result, or the failure to connect, to /report.
QByteArray tillPage(const QString& wsUrl, const QByteArray& script)
{
    return "<!doctype html><meta charset=utf-8><title>till</title><script type=module>\n"
           "import { connect } from './varnel.js';\n"
           "const outcome = (p) => p.then((v) => ({ ok: v }),\n"
           "                              (e) => ({ error: e.message, code: e.code }));\n"
           "let result;\n"
           "try {\n"
           "  const till = await connect('" +
           wsUrl.toLatin1() +
           "');\n"
           "  result = await (async () => {" +
           script +
           "})();\n"
           "  till.close();\n"
           "} catch (e) { result = { connect: e.code, message: e.message }; }\n"
           "await fetch('/report', { method: 'POST', body: JSON.stringify(result) });\n"
           "</script>\n";
}

class BrowserE2E : public ::testing::Test
{
protected:
    // The server with its simulated pad and the WebSocket port open to `origins`.
    void startServer(const QString& origins)
    {
        m_controlPort = ServerProcess::freePort();
        m_wsPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[WebSocket]\r\nPort=%2\r\n"
                           "Origins=%3\r\n")
                .arg(m_controlPort)
                .arg(m_wsPort)
                .arg(origins),
            QStringList{QStringLiteral("--simulate")});
        ASSERT_TRUE(m_server->start());
    }
    QString wsUrl() const { return QStringLiteral("ws://127.0.0.1:%1").arg(m_wsPort); }
    // Opens the page in the browser and returns what it reported.
    QJsonObject run(PageServer& pages)
    {
        HeadlessBrowser browser;
        EXPECT_TRUE(browser.open(pages.pageUrl()));
        const std::optional<QByteArray> report = pages.waitForReport(60000);
        EXPECT_TRUE(report.has_value()) << "the page reported nothing";
        return report ? QJsonDocument::fromJson(*report).object() : QJsonObject();
    }

    quint16 m_controlPort = 0;
    quint16 m_wsPort = 0;
    std::unique_ptr<ServerProcess> m_server;
};

} // namespace

TEST_F(BrowserE2E, ATillPageAsksForTheVersionAndSwipesWithTheJavaScriptClient)
{
    PageServer pages(QByteArray{});
    ASSERT_TRUE(pages.listen());
    startServer(pages.origin());
    pages.setPage(tillPage(wsUrl(), R"(
        const r = {};
        r.version = await outcome(till.version());
        r.unsafe = await outcome(till.swipe({ timeout: 5, total: '1;2' }));
        r.swipe = await outcome(till.swipe({ timeout: 20 }));
        r.timeout = await outcome(till.swipe({ timeout: 1 }));
        return r;)"));

    // The customer at the pad swipes once the swipe form shows.
    QProcess customer;
    customer.start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                   {QStringLiteral("--port"), QString::number(m_controlPort),
                    QStringLiteral("swipe"), QString::fromLatin1(kTrack1),
                    QString::fromLatin1(kTrack2)});
    ASSERT_TRUE(customer.waitForStarted(5000));

    const QJsonObject result = run(pages);
    EXPECT_EQ(result.value(QStringLiteral("version")).toObject().value(QStringLiteral("ok")),
              QStringLiteral("1.0.0"));
    EXPECT_EQ(result.value(QStringLiteral("unsafe")).toObject().value(QStringLiteral("error")),
              QStringLiteral("TOTAL must not hold \";\" or \"=\": 1;2"));
    const QJsonObject swipe =
        result.value(QStringLiteral("swipe")).toObject().value(QStringLiteral("ok")).toObject();
    EXPECT_EQ(swipe.value(QStringLiteral("track1")), QString::fromLatin1(kTrack1));
    EXPECT_EQ(swipe.value(QStringLiteral("track2")), QString::fromLatin1(kTrack2));
    EXPECT_EQ(result.value(QStringLiteral("unsafe")).toObject().value(QStringLiteral("code")),
              QStringLiteral("refused"));
    EXPECT_EQ(result.value(QStringLiteral("timeout")).toObject().value(QStringLiteral("code")),
              QStringLiteral("timeout"));
    // The page's wait ran the event loop, which may have seen the tool end already.
    ASSERT_TRUE(customer.state() == QProcess::NotRunning || customer.waitForFinished(10000));
    EXPECT_EQ(customer.exitCode(), 0);

    // The refused value sent nothing: VERSION and two swipes are the page's only transactions.
    const QStringList log = m_server->logEntries();
    EXPECT_EQ(log.filter(QStringLiteral("Socket: Transaction Start")).size(), 3);
    EXPECT_TRUE(log.contains(QStringLiteral("qp6100_get_swipe: Card Swipe Timeout")));
}

TEST_F(BrowserE2E, APageFromAnOriginNotListedCannotConnect)
{
    PageServer pages(QByteArray{});
    ASSERT_TRUE(pages.listen());
    startServer(QStringLiteral("http://127.0.0.1:1"));
    pages.setPage(tillPage(wsUrl(), "return await till.version();"));

    const QJsonObject result = run(pages);
    EXPECT_EQ(result.value(QStringLiteral("connect")), QStringLiteral("unreachable"));
    EXPECT_TRUE(result.value(QStringLiteral("message"))
                    .toString()
                    .startsWith(QStringLiteral("cannot connect to ") + wsUrl()));
    EXPECT_TRUE(m_server->waitForLogEntry(
        QStringLiteral("WebSocket: Refused origin=[%1] ip=[127.0.0.1]").arg(pages.origin())));
    EXPECT_TRUE(
        m_server->logEntries().filter(QStringLiteral("Socket: Transaction Start")).isEmpty());
}
