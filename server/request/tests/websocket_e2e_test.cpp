// End-to-end: the WebSocket port of the real varnelpayment binary, on loopback: requests as text
// messages, framing faults, origins, the allow-list and TLS.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
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
