// End-to-end: the WebSocket port of the real varnelpayment binary, on loopback: requests as text
// messages, framing faults, origins, the allow-list and TLS.
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QWebSocket>

#include "serverprocess.h"

namespace {

const QString kVersionReply = QStringLiteral("<VERSION>1.0.0</VERSION>");
const QString kListedOrigin = QStringLiteral("http://till.test:8080");

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A WebSocket client that records what it receives and how it was closed.
struct WsClient
{
    explicit WsClient(const QString& origin = {}) : socket(origin)
    {
        QObject::connect(&socket, &QWebSocket::textMessageReceived,
                         [this](const QString& text) { received.append(text); });
        QObject::connect(&socket, &QWebSocket::sslErrors,
                         [this](const QList<QSslError>&) { socket.ignoreSslErrors(); });
    }
    bool open(const QString& url)
    {
        socket.open(QUrl(url));
        QDeadlineTimer deadline(5000);
        while (socket.state() != QAbstractSocket::ConnectedState &&
               socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
            spin(10);
        return socket.state() == QAbstractSocket::ConnectedState;
    }
    QString ask(const QString& request)
    {
        const qsizetype before = received.size();
        socket.sendTextMessage(request);
        QDeadlineTimer deadline(5000);
        while (received.size() == before && !deadline.hasExpired())
            spin(10);
        return received.value(before);
    }
    bool waitClosed()
    {
        QDeadlineTimer deadline(5000);
        while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired())
            spin(10);
        return socket.state() == QAbstractSocket::UnconnectedState;
    }

    QWebSocket socket;
    QStringList received;
};

// Sends a handshake by hand and returns the first line of the answer (empty: none, closed).
QByteArray rawHandshake(quint16 port, const QByteArray& originHeader,
                        const QHostAddress& from = QHostAddress(QHostAddress::LocalHost))
{
    TestClient client;
    if (!client.socket().bind(from) || !client.connectTo(port))
        return "no connection";
    client.send("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                "Sec-WebSocket-Version: 13\r\n" +
                originHeader + "\r\n");
    const QByteArray answer = client.receive(3000, 12);
    return answer.left(answer.indexOf('\r'));
}

// Opens `count` connections from `from` to `port` at once and waits (at most 10 s) until the
// server has closed every one; returns how many it left open.
int connectAndWaitClosed(quint16 port, int count, const QHostAddress& from)
{
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->bind(from);
        clients.back()->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    }
    const auto open = [&clients] {
        int n = 0;
        for (const auto& client : clients)
            n += client->state() != QAbstractSocket::UnconnectedState;
        return n;
    };
    QDeadlineTimer deadline(10000);
    while (open() > 0 && !deadline.hasExpired())
        spin(20);
    return open();
}

// The refusals that the log's lines matching `line` stand for: a line counts one, or the
// number in its trailing " count=[N]".
int refusalsLogged(const QStringList& log, const QRegularExpression& line)
{
    int refusals = 0;
    for (const QString& entry : log) {
        const QRegularExpressionMatch match = line.match(entry);
        if (match.hasMatch())
            refusals += match.captured(QStringLiteral("count")).isEmpty()
                            ? 1
                            : match.captured(QStringLiteral("count")).toInt();
    }
    return refusals;
}

QString wsSettings(quint16 port, const QString& extra = {})
{
    return QStringLiteral("allowFrom=127.0.0.1 127.0.0.2\r\n[WebSocket]\r\nPort=%1\r\n"
                          "Origins=https://other.test, %2/\r\n")
               .arg(port)
               .arg(kListedOrigin) +
           extra;
}

} // namespace

TEST(WebSocketE2E, TextMessagesAreRequestsAndFramingFaultsCloseOnlyThatConnection)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(wsSettings(wsPort));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.logEntries().contains(
        QStringLiteral("WebSocket: Listening Port %1 (ws)").arg(wsPort)));
    const QString url = QStringLiteral("ws://127.0.0.1:%1/").arg(wsPort);

    WsClient program; // no Origin header: a program, accepted
    ASSERT_TRUE(program.open(url));
    EXPECT_EQ(program.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);
    WsClient page(kListedOrigin);
    ASSERT_TRUE(page.open(url));
    EXPECT_EQ(page.ask(QStringLiteral("trans=VERSION;")), kVersionReply);

    WsClient binary;
    ASSERT_TRUE(binary.open(url));
    binary.socket.sendBinaryMessage("TRANS=VERSION;");
    ASSERT_TRUE(binary.waitClosed());
    EXPECT_EQ(binary.socket.closeCode(), QWebSocketProtocol::CloseCodeDatatypeNotSupported);
    EXPECT_TRUE(binary.received.isEmpty());

    WsClient oversize;
    ASSERT_TRUE(oversize.open(url));
    oversize.socket.sendTextMessage(QStringLiteral("TRANS=VERSION;") +
                                    QString(64 * 1024, QLatin1Char('x')));
    ASSERT_TRUE(oversize.waitClosed());
    EXPECT_EQ(oversize.socket.closeCode(), QWebSocketProtocol::CloseCodeTooMuchData);

    // A message of exactly 64 KiB is still a request (one that fails to parse: no reply).
    WsClient full;
    ASSERT_TRUE(full.open(url));
    full.socket.sendTextMessage(QStringLiteral("TIMER=5;") +
                                QString(64 * 1024 - 8, QLatin1Char(';')));
    EXPECT_EQ(full.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);

    // Everyone else goes on being served, with the same log lines as over TCP.
    EXPECT_EQ(program.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);
    const QStringList log = server.logEntries();
    EXPECT_EQ(log.filter(QStringLiteral("return_xml: <VERSION>1.0.0</VERSION>")).size(), 4);
    EXPECT_EQ(
        log.filter(QStringLiteral("Socket: DataArrival Parse tag=[TRANS] value=[VERSION]")).size(),
        4);

    // Origins: an unlisted page gets 403 and is logged; a listed one is upgraded.
    EXPECT_EQ(rawHandshake(wsPort, "Origin: http://evil.test\r\n"), "HTTP/1.1 403 Forbidden");
    EXPECT_TRUE(server.waitForLogEntry(
        QStringLiteral("WebSocket: Refused origin=[http://evil.test] ip=[127.0.0.1]")));
    EXPECT_EQ(rawHandshake(wsPort, "origin: " + kListedOrigin.toLatin1() + "\r\n"),
              "HTTP/1.1 101 Switching Protocols");
    // The allow-list holds on this port too: 127.0.0.3 is closed unread, 127.0.0.2 served.
    EXPECT_EQ(rawHandshake(wsPort, {}, QHostAddress(QStringLiteral("127.0.0.3"))), "");
    EXPECT_TRUE(server.waitForLogEntry(QStringLiteral("Socket: Refused 127.0.0.3")));
    EXPECT_EQ(rawHandshake(wsPort, {}, QHostAddress(QStringLiteral("127.0.0.2"))),
              "HTTP/1.1 101 Switching Protocols");
}

TEST(WebSocketE2E, CertificateAndKeyMakeItWssOnlyAndBadFilesKeepItClosed)
{
    QTemporaryDir keys;
    const QString cert = keys.filePath(QStringLiteral("cert.pem"));
    const QString key = keys.filePath(QStringLiteral("key.pem"));
    const QString otherKey = keys.filePath(QStringLiteral("other-key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("2"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-keyout"), key, QStringLiteral("-out"), cert});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("genpkey"), QStringLiteral("-algorithm"), QStringLiteral("EC"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:P-256"),
                   QStringLiteral("-out"), otherKey});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0);

    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(
        wsSettings(wsPort, QStringLiteral("CertFile=%1\r\nKeyFile=%2\r\n").arg(cert, key)));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(server.logEntries().contains(
        QStringLiteral("WebSocket: Listening Port %1 (wss)").arg(wsPort)));
    WsClient secure;
    ASSERT_TRUE(secure.open(QStringLiteral("wss://127.0.0.1:%1/").arg(wsPort)));
    EXPECT_EQ(secure.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);
    WsClient plain;
    EXPECT_FALSE(plain.open(QStringLiteral("ws://127.0.0.1:%1/").arg(wsPort)));
    EXPECT_EQ(secure.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);

    struct Bad
    {
        QString certFile;
        QString keyFile;
        QString reason;
    };
    const QString missing = keys.filePath(QStringLiteral("missing.pem"));
    const Bad bads[] = {
        {missing, key,
         QStringLiteral("cannot read the certificate file [%1]: No such file or directory")
             .arg(missing)},
        {cert, otherKey,
         QStringLiteral("the key in [%1] does not belong to the certificate in [%2]")
             .arg(otherKey, cert)},
        {key, key, QStringLiteral("the certificate file [%1] holds no PEM certificate").arg(key)},
        {cert, QString(), QStringLiteral("CertFile and KeyFile must both be set for TLS")},
    };
    for (const Bad& bad : bads) {
        const quint16 badPort = ServerProcess::freePort();
        ServerProcess broken(wsSettings(
            badPort,
            QStringLiteral("CertFile=%1\r\nKeyFile=%2\r\n").arg(bad.certFile, bad.keyFile)));
        ASSERT_TRUE(broken.start()) << "the TCP port is served whatever the WebSocket port does";
        EXPECT_TRUE(broken.logEntries().contains(
            QStringLiteral("WebSocket: Listening Error port=[%1] ").arg(badPort) + bad.reason))
            << qPrintable(bad.reason);
        TestClient tcp;
        ASSERT_TRUE(tcp.connectTo(broken.port()));
        EXPECT_EQ(tcp.transact("TRANS=VERSION;", kVersionReply.toLatin1()),
                  kVersionReply.toLatin1());
        WsClient refused;
        EXPECT_FALSE(refused.open(QStringLiteral("ws://127.0.0.1:%1/").arg(badPort)));
        EXPECT_EQ(broken.stop(), 0);
        EXPECT_TRUE(
            QString::fromLocal8Bit(broken.process().readAllStandardError()).contains(bad.reason))
            << qPrintable(bad.reason);
    }
}

TEST(WebSocketE2E, BothPortsShareOneConnectionCap)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(
        QStringLiteral("MaxConnections=2\r\n[WebSocket]\r\nPort=%1\r\n").arg(wsPort));
    ASSERT_TRUE(server.start());
    const QString url = QStringLiteral("ws://127.0.0.1:%1/").arg(wsPort);

    TestClient tcp;
    ASSERT_TRUE(tcp.connectTo(server.port()));
    auto first = std::make_unique<WsClient>();
    ASSERT_TRUE(first->open(url));
    WsClient over;
    EXPECT_FALSE(over.open(url));
    EXPECT_TRUE(server.waitForLogEntry(QStringLiteral(
        "Socket: ConnectionRequest Refused count=[1] reason=[MaxConnections 2 reached]")));

    // A closed WebSocket gives its place back.
    first->socket.close();
    ASSERT_TRUE(first->waitClosed());
    first.reset();
    ASSERT_TRUE(server.waitForLogEntry(QStringLiteral("WebSocket: Close 127.0.0.1 code=[1000]")));
    WsClient next;
    QDeadlineTimer deadline(5000);
    while (!next.open(url) && !deadline.hasExpired())
        spin(50);
    EXPECT_EQ(next.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);
    EXPECT_EQ(tcp.transact("TRANS=VERSION;", kVersionReply.toLatin1()), kVersionReply.toLatin1());
}

TEST(WebSocketE2E, RefusalFloodsOnEitherPortWriteAFewCountedLines)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(
        QStringLiteral("allowFrom=127.0.0.2\r\n[WebSocket]\r\nPort=%1\r\nOrigins=%2\r\n")
            .arg(wsPort)
            .arg(kListedOrigin));
    ASSERT_TRUE(server.start());
    const QHostAddress unlisted(QStringLiteral("127.0.0.1"));
    const QHostAddress listed(QStringLiteral("127.0.0.2"));

    // 200 connections from an address outside the allow-list, half on each port: each is
    // closed unread, and the two ports share one once-a-second line with the number refused.
    QElapsedTimer flood;
    flood.start();
    EXPECT_EQ(connectAndWaitClosed(server.port(), 100, unlisted), 0);
    EXPECT_EQ(connectAndWaitClosed(wsPort, 100, unlisted), 0);
    const QRegularExpression unlistedLine(
        QStringLiteral(R"(^Socket: Refused 127\.0\.0\.1( count=\[(?<count>\d+)\])?$)"));
    QDeadlineTimer deadline(5000);
    while (refusalsLogged(server.logEntries(), unlistedLine) < 200 && !deadline.hasExpired())
        spin(50);
    QStringList log = server.logEntries();
    EXPECT_EQ(refusalsLogged(log, unlistedLine), 200);
    const QStringList unlistedLines = log.filter(QStringLiteral("Socket: Refused"));
    // The first line of a burst is the line of a single refusal.
    ASSERT_FALSE(unlistedLines.isEmpty());
    EXPECT_EQ(unlistedLines.first(), QStringLiteral("Socket: Refused 127.0.0.1"));
    EXPECT_LE(unlistedLines.size(), flood.elapsed() / 1000 + 2) << "at most one line a second";

    // 300 handshakes from a listed address with an unlisted origin of 9,000 characters: each
    // is answered 403; the log names the origin by its first 256 characters, a few times.
    const QString origin = QStringLiteral("http://") + QString(8993, QLatin1Char('o'));
    flood.restart();
    int forbidden = 0;
    for (int i = 0; i < 300; ++i)
        forbidden += rawHandshake(wsPort, "Origin: " + origin.toLatin1() + "\r\n", listed) ==
                     "HTTP/1.1 403 Forbidden";
    EXPECT_EQ(forbidden, 300);
    const QString firstOriginLine =
        QStringLiteral("WebSocket: Refused origin=[%1] ip=[127.0.0.2]").arg(origin.left(256));
    const QRegularExpression originLine(QRegularExpression::escape(firstOriginLine) +
                                        QStringLiteral(R"(( count=\[(?<count>\d+)\])?$)"));
    deadline.setRemainingTime(5000);
    while (refusalsLogged(server.logEntries(), originLine) < 300 && !deadline.hasExpired())
        spin(50);
    log = server.logEntries();
    EXPECT_EQ(refusalsLogged(log, originLine), 300);
    const QStringList originLines = log.filter(QStringLiteral("WebSocket: Refused"));
    ASSERT_FALSE(originLines.isEmpty());
    EXPECT_EQ(originLines.first(), firstOriginLine);
    EXPECT_LE(originLines.size(), flood.elapsed() / 1000 + 2) << "at most one line a second";
    qsizetype longestOrigin = 0;
    for (const QString& line : originLines)
        longestOrigin = std::max(longestOrigin, line.section(QStringLiteral("origin=["), 1)
                                                    .section(QStringLiteral("] ip=["), 0, 0)
                                                    .size());
    EXPECT_EQ(longestOrigin, 256);

    // A listed page and the listed address are served on as before.
    EXPECT_EQ(rawHandshake(wsPort, "Origin: " + kListedOrigin.toLatin1() + "\r\n", listed),
              "HTTP/1.1 101 Switching Protocols");
    TestClient tcp;
    ASSERT_TRUE(tcp.socket().bind(listed));
    ASSERT_TRUE(tcp.connectTo(server.port()));
    EXPECT_EQ(tcp.transact("TRANS=VERSION;", kVersionReply.toLatin1()), kVersionReply.toLatin1());
}

TEST(WebSocketE2E, OutOfDescriptorsThePortPausesWithoutSpinningAndServesAgain)
{
    const quint16 wsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[WebSocket]\r\nPort=%1\r\n").arg(wsPort));
    server.setLauncher(
        {QStringLiteral("prlimit"), QStringLiteral("--nofile=64:64"), QStringLiteral("--")});
    ASSERT_TRUE(server.start());
    // The cap is fitted to the limit the server started with, once, before either port opened.
    const QStringList startUp = server.logEntries();
    const qsizetype fitted = startUp.indexOf(
        QStringLiteral("Socket: MaxConnections=[200] lowered to [32] by the file limit [64]"));
    ASSERT_GE(fitted, 0);
    EXPECT_LT(fitted,
              startUp.indexOf(QStringLiteral("Socket: Listening Port %1").arg(server.port())));
    EXPECT_LT(fitted,
              startUp.indexOf(QStringLiteral("WebSocket: Listening Port %1 (ws)").arg(wsPort)));

    // Then something takes the room the cap counted on: the limit drops below what the cap
    // allows, and more clients come than there are descriptors.
    QProcess limit;
    limit.start(QStringLiteral("prlimit"),
                {QStringLiteral("--pid"), QString::number(server.process().processId()),
                 QStringLiteral("--nofile=24:64")});
    ASSERT_TRUE(limit.waitForFinished(5000) && limit.exitCode() == 0);
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 100; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress(QHostAddress::LocalHost), wsPort);
    }
    spin(500);
    const qint64 before = server.cpuTicks();
    spin(2000);
    EXPECT_LT(server.cpuTicks() - before, 2 * sysconf(_SC_CLK_TCK) / 5)
        << "ticks of processor time in two seconds";
    // Clients that find no descriptor are closed, not left waiting, and counted in the log.
    const QRegularExpression outOfFiles(QStringLiteral(
        R"(^Socket: ConnectionRequest Refused count=\[(?<count>\d+)\] reason=\[Too many open files\]$)"));
    EXPECT_GT(refusalsLogged(server.logEntries(), outOfFiles), 0);
    EXPECT_LE(server.logEntries().filter(outOfFiles).size(), 4) << "at most one line a second";

    // Once the descriptors are back and those clients have gone, both ports serve again.
    limit.start(QStringLiteral("prlimit"),
                {QStringLiteral("--pid"), QString::number(server.process().processId()),
                 QStringLiteral("--nofile=64:64")});
    ASSERT_TRUE(limit.waitForFinished(5000) && limit.exitCode() == 0);
    clients.clear();
    WsClient page;
    QDeadlineTimer deadline(5000);
    while (!page.open(QStringLiteral("ws://127.0.0.1:%1/").arg(wsPort)) && !deadline.hasExpired())
        spin(100);
    EXPECT_EQ(page.ask(QStringLiteral("TRANS=VERSION;")), kVersionReply);
    TestClient tcp;
    ASSERT_TRUE(tcp.connectTo(server.port()));
    EXPECT_EQ(tcp.transact("TRANS=VERSION;", kVersionReply.toLatin1()), kVersionReply.toLatin1());
    EXPECT_EQ(server.stop(), 0);
    EXPECT_EQ(server.logEntries().last(), QStringLiteral("Application Closed"));
}
