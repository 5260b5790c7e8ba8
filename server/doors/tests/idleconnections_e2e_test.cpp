// End to end: connections that hold a place and say nothing. The real server with a short
// `[Local] IdleSeconds`, its TCP, TLS, WebSocket and metrics ports, and many idle clients over
// loopback.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>

#include "doorse2e.h"
#include "serverprocess.h"

namespace {

const QByteArray kVersion("TRANS=VERSION;");
const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");
constexpr int kIdleSeconds = 2;
constexpr int kStrangers = 200;

enum class Kind { Tcp, Tls, WebSocket, Metrics };

class IdleConnectionsE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(makeShopCertificates(m_files.filePath(QStringLiteral("ca")),
                                         m_files.filePath(QStringLiteral("box"))));
        m_ports = {0, ServerProcess::freePort(), ServerProcess::freePort(),
                   ServerProcess::freePort()};
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("IdleSeconds=%1\r\n[TLS]\r\nPort=%2\r\n[WebSocket]\r\nPort=%3\r\n"
                           "CertFile=varnelpayment.pem\r\nKeyFile=varnelpayment.key\r\n"
                           "[Metrics]\r\nPort=%4\r\n")
                .arg(kIdleSeconds)
                .arg(m_ports[1])
                .arg(m_ports[2])
                .arg(m_ports[3]),
            QStringList{QStringLiteral("--simulate")});
        m_server->setHome(m_files.filePath(QStringLiteral("box")));
        ASSERT_TRUE(m_server->start());
        m_ports[0] = m_server->port();
    }
    quint16 port(Kind kind) const { return m_ports[int(kind)]; }

    // A connection at `kind`'s door, open and, for TLS and WebSocket (wss: the box's certificate
    // serves both), past its handshakes; null when the server did not let it in.
    std::unique_ptr<QSslSocket> open(Kind kind)
    {
        auto socket = std::make_unique<QSslSocket>();
        if (kind == Kind::Tls || kind == Kind::WebSocket) {
            if (!connectTrusting(*socket, port(kind),
                                 m_files.filePath(QStringLiteral("ca/ca.pem"))))
                return nullptr;
        } else {
            socket->connectToHost(QStringLiteral("127.0.0.1"), port(kind));
            if (!socket->waitForConnected(5000))
                return nullptr;
        }
        if (kind != Kind::WebSocket)
            return socket;
        socket->write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                      "Connection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                      "Sec-WebSocket-Version: 13\r\n\r\n");
        QByteArray head;
        QDeadlineTimer deadline(5000);
        while (!head.contains("\r\n\r\n") && !deadline.hasExpired() &&
               socket->state() == QAbstractSocket::ConnectedState) {
            socket->waitForReadyRead(100);
            head += socket->readAll();
        }
        return head.startsWith("HTTP/1.1 101") ? std::move(socket) : nullptr;
    }
    // One request on `socket` at `kind`'s door and whether its reply came.
    static bool versionServed(QSslSocket& socket, Kind kind)
    {
        QByteArray request = kVersion;
        if (kind == Kind::WebSocket) {
            // A masked text frame, the mask all zeros.
            request =
                QByteArray("\x81") + char(0x80 | kVersion.size()) + QByteArray(4, '\0') + kVersion;
        }
        socket.write(request);
        QByteArray reply;
        QDeadlineTimer deadline(3000);
        while (!reply.contains(kVersionReply) && !deadline.hasExpired() &&
               socket.state() == QAbstractSocket::ConnectedState) {
            socket.waitForReadyRead(100);
            reply += socket.readAll();
        }
        return reply.contains(kVersionReply);
    }
    // Waits up to `timeoutMs` for the sockets to be closed by the server; how many are open.
    static int stillOpen(std::vector<std::unique_ptr<QSslSocket>>& sockets, int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        int open = 0;
        for (auto& socket : sockets)
            if (socket->state() == QAbstractSocket::ConnectedState &&
                !socket->waitForDisconnected(int(qMax<qint64>(1, deadline.remainingTime()))))
                ++open;
        return open;
    }
    double metric(const QByteArray& sample) { return scrapedMetric(port(Kind::Metrics), sample); }

    QTemporaryDir m_files;
    std::vector<quint16> m_ports;
    std::unique_ptr<ServerProcess> m_server;
};

} // namespace

// At each till's door a connection that says nothing for IdleSeconds is closed, one that keeps
// talking stays; the closes are one log line a burst.
TEST_F(IdleConnectionsE2E, ATillsConnectionThatSaysNothingIsClosedAfterIdleSeconds)
{
    const struct
    {
        Kind kind;
        const char* door;
        const char* logName;
    } doors[] = {{Kind::Tcp, "tcp", "Socket"},
                 {Kind::Tls, "tls", "TLS"},
                 {Kind::WebSocket, "websocket", "WebSocket"}};
    for (const auto& door : doors) {
        SCOPED_TRACE(door.door);
        std::vector<std::unique_ptr<QSslSocket>> quiet;
        for (int i = 0; i < 3; ++i) {
            quiet.push_back(open(door.kind));
            ASSERT_TRUE(quiet.back());
        }
        const std::unique_ptr<QSslSocket> talking = open(door.kind);
        ASSERT_TRUE(talking);
        QElapsedTimer since;
        since.start();
        // The talking till asks three times within every idle time, past the time that ends the
        // others; between its requests the test waits for the others to be closed.
        int open = int(quiet.size());
        while (open > 0 && since.elapsed() < (kIdleSeconds + 2) * 1000) {
            ASSERT_TRUE(versionServed(*talking, door.kind));
            open = stillOpen(quiet, kIdleSeconds * 1000 / 3);
        }
        EXPECT_EQ(open, 0);
        EXPECT_GE(since.elapsed(), kIdleSeconds * 1000 - 200);
        EXPECT_TRUE(versionServed(*talking, door.kind));
        EXPECT_EQ(metric("varnel_connections_open{door=\"" + QByteArray(door.door) + "\"}"), 1);
        // The three closes: the first at once, the other two in one line a second later.
        EXPECT_TRUE(m_server->waitForLogEntry(
            QStringLiteral("%1: Close Idle ip=[127.0.0.1] seconds=[%2] count=[2]")
                .arg(QLatin1String(door.logName))
                .arg(kIdleSeconds),
            3000));
    }
    // A till that waits for its customer longer than IdleSeconds is not idle: its swipe runs
    // to its own limit and the reply reaches it.
    const QByteArray swipeTimeout("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(port(Kind::Tcp)));
    waiting.send("TRANS=QP6100;ACTION=1;TIMER=" + QByteArray::number(kIdleSeconds * 2) + ';');
    EXPECT_EQ(waiting.receive((kIdleSeconds * 2 + 3) * 1000, swipeTimeout.size()), swipeTimeout);
}

// Strangers fill a port: the metrics port's own cap keeps them off the tills' places, and idle
// WebSockets that fill the tills' cap give their places back after IdleSeconds.
TEST_F(IdleConnectionsE2E, IdleStrangersDoNotLockATillOut)
{
    const struct
    {
        Kind kind;
        int admitted;
        bool tillServedAtOnce;
    } floods[] = {{Kind::Metrics, 8, true}, {Kind::WebSocket, kStrangers, false}};
    for (const auto& flood : floods) {
        SCOPED_TRACE(int(flood.kind));
        std::vector<std::unique_ptr<QSslSocket>> strangers;
        QElapsedTimer sinceFirst;
        sinceFirst.start();
        int admitted = 0;
        for (int i = 0; i < kStrangers; ++i) {
            std::unique_ptr<QSslSocket> stranger = open(flood.kind);
            if (stranger && flood.kind == Kind::Metrics)
                stranger->waitForDisconnected(20); // a refused one is closed at once
            if (stranger && stranger->state() == QAbstractSocket::ConnectedState) {
                ++admitted;
                strangers.push_back(std::move(stranger));
            }
        }
        EXPECT_EQ(admitted, flood.admitted);

        QElapsedTimer waited;
        waited.start();
        bool served = false;
        while (!served && waited.elapsed() < (kIdleSeconds + 3) * 1000) {
            TestClient till;
            served = till.connectTo(port(Kind::Tcp)) &&
                     till.transact(kVersion, kVersionReply) == kVersionReply;
            if (!served)
                QThread::msleep(100);
        }
        EXPECT_TRUE(served);
        if (flood.tillServedAtOnce)
            EXPECT_LT(waited.elapsed(), 1000);
        else
            EXPECT_GE(sinceFirst.elapsed(), kIdleSeconds * 1000 - 200);
    }
    EXPECT_EQ(metric("varnel_connections_open{door=\"metrics\"}"), 1);
}

// A failed handshake at either door that speaks TLS is counted by door and logged; so is a
// WebSocket upgrade that is refused.
TEST_F(IdleConnectionsE2E, FailedHandshakesAreCountedByDoor)
{
    const struct
    {
        Kind kind;
        bool secure;
        QByteArray bytes;
        const char* door;
    } tries[] = {
        {Kind::Tls, false, "TRANS=VERSION;", "tls"},
        {Kind::WebSocket, false, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "websocket"},
        {Kind::WebSocket, true, "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n\r\n",
         "websocket"},
    };
    std::map<QByteArray, int> failures;
    for (const auto& attempt : tries) {
        SCOPED_TRACE(attempt.bytes.constData());
        std::unique_ptr<QSslSocket> socket;
        if (attempt.secure) {
            socket = std::make_unique<QSslSocket>();
            QSslConfiguration tls = socket->sslConfiguration();
            tls.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket->setSslConfiguration(tls);
            socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port(attempt.kind));
            ASSERT_TRUE(socket->waitForEncrypted(5000));
        } else {
            socket = std::make_unique<QSslSocket>();
            socket->connectToHost(QStringLiteral("127.0.0.1"), port(attempt.kind));
            ASSERT_TRUE(socket->waitForConnected(5000));
        }
        socket->write(attempt.bytes);
        socket->flush();
        EXPECT_TRUE(socket->state() == QAbstractSocket::UnconnectedState ||
                    socket->waitForDisconnected(5000));
        ++failures[attempt.door];
    }
    for (const auto& [door, count] : failures)
        EXPECT_EQ(metric("varnel_tls_handshake_failures_total{door=\"" + door + "\"}"), count)
            << door.constData();
    EXPECT_TRUE(m_server->waitForLogEntry(
        QStringLiteral("WebSocket: Handshake Failed ip=[127.0.0.1] reason=[Error during SSL "
                       "handshake: error:0A00009C:SSL routines::http request]")));
}
