// End to end over real TLS: the real server with its simulated pad and a simulated PIN pad, a
// box certificate signed by a shop CA, both made by the program itself, and tills that reach the
// TLS port with Qt's TLS client or the openssl command.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QThread>

#include "doorse2e.h"
#include "pade2e.h"
#include "pinpadsimulatorprocess.h"
#include "serverprocess.h"
#include "testfiles.h"

namespace {

const QByteArray kCard("4111111111111111");
const QByteArray kTrack1("%B" + kCard + "^DOE/JANE^29121010000000000000?");
const QByteArray kTrack2(";" + kCard + "=29121010000000000000?");
const QByteArray kSwipeReply("<QP6100><SWIPE><TRACK1>" + kTrack1 + "</TRACK1><TRACK2>" + kTrack2 +
                             "</TRACK2></SWIPE></QP6100>");
const QByteArray kPinCard("4012345678909");
const QByteArray kPinRequest("TRANS=1000SE;ACTION=3;CREDITCARD=" + kPinCard + ";TOTAL=12.34;");
// The simulated PIN pad's first and second PIN blocks.
const QByteArray kPinBlocks[] = {"1B9C1845EB993A7A", "10A01C8D02C69107"};
const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");

QByteArray pinReply(int entry)
{
    return "<1000SE><PINBLOCK>" + kPinBlocks[entry] + "</PINBLOCK><KSN>FFFF9876543210E0000" +
           QByteArray::number(entry + 1) + "</KSN></1000SE>";
}

// A relay between a till and a port of the server that writes every byte of both directions
// to files, as a machine on the shop's network between them would see them.
class RecordingRelay
{
public:
    RecordingRelay(quint16 target, const QString& record) : m_port(ServerProcess::freePort())
    {
        m_process.start(QStringLiteral("/usr/bin/socat"),
                        {QStringLiteral("-r"), record + QStringLiteral(".in"), QStringLiteral("-R"),
                         record + QStringLiteral(".out"),
                         QStringLiteral("TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr,fork").arg(m_port),
                         QStringLiteral("TCP:127.0.0.1:%1").arg(target)});
        m_record = record;
    }
    ~RecordingRelay()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    quint16 port() const { return m_port; }
    // Both directions' bytes so far.
    QByteArray recorded() const
    {
        QByteArray bytes;
        for (const char* end : {".in", ".out"}) {
            QFile file(m_record + QLatin1String(end));
            if (file.open(QIODevice::ReadOnly))
                bytes += file.readAll();
        }
        return bytes;
    }

private:
    quint16 m_port;
    QString m_record;
    QProcess m_process;
};

class TlsDoorE2E : public PadE2E
{
protected:
    void SetUp() override
    {
        // The certificate's files, named in the settings file relative to the program folder.
        ASSERT_TRUE(makeShopCertificates(m_ca.filePath(QStringLiteral("ca")), m_box.path()));
        ASSERT_TRUE(m_pinPad.start(m_box.filePath(QStringLiteral("pinpad")),
                                   {QStringLiteral("--delay"), QStringLiteral("0.1")}));
        m_tlsPort = ServerProcess::freePort();
        m_metricsPort = ServerProcess::freePort();
        QString settings = QStringLiteral("[WebSocket]\r\nCertFile=varnelpayment.pem\r\n"
                                          "KeyFile=varnelpayment.key\r\n[TLS]\r\nPort=%1\r\n"
                                          "[Metrics]\r\nPort=%2\r\n[1000SE]\r\n1000SEDevice=1\r\n"
                                          "1000SECommPort=3\r\n[SerialPorts]\r\n")
                               .arg(m_tlsPort)
                               .arg(m_metricsPort);
        for (int port = 1; port <= 8; ++port)
            settings += QStringLiteral("COM%1=%2\r\n")
                            .arg(port)
                            .arg(m_box.filePath(port == 3 ? QStringLiteral("pinpad")
                                                          : QStringLiteral("missing")));
        m_controlPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n").arg(m_controlPort) + settings,
            QStringList{QStringLiteral("--simulate")});
        m_server->setHome(m_box.path());
        ASSERT_TRUE(m_server->start()) << "server did not start";
    }

    QString caFile() const { return m_ca.filePath(QStringLiteral("ca/ca.pem")); }

    bool connectTls(QSslSocket& socket, quint16 port)
    {
        return connectTrusting(socket, port, caFile());
    }
    static QByteArray transact(QAbstractSocket& socket, const QByteArray& request,
                               qsizetype replyBytes, int timeoutMs = 15000)
    {
        socket.write(request);
        socket.flush();
        QByteArray reply;
        QDeadlineTimer deadline(timeoutMs);
        while (reply.size() < replyBytes && !deadline.hasExpired() &&
               socket.state() == QAbstractSocket::ConnectedState) {
            socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
            reply += socket.readAll();
        }
        return reply;
    }
    double metric(const QByteArray& sample) { return scrapedMetric(m_metricsPort, sample); }

    QTemporaryDir m_ca;
    QTemporaryDir m_box;
    PinPadSimulator m_pinPad;
    quint16 m_tlsPort = 0;
    quint16 m_metricsPort = 0;
};

} // namespace

// The same swipe and PIN entry through the TCP port and the TLS port, each through a relay that
// records every byte: the TLS port's replies are the same, and its relay sees no card data.
TEST_F(TlsDoorE2E, SwipesAndPinEntriesCrossTheNetworkInClearOnTcpOnly)
{
    QTemporaryDir records;
    const struct
    {
        const char* name;
        quint16 target;
        bool secure;
    } doors[] = {{"tcp", m_server->port(), false}, {"tls", m_tlsPort, true}};
    for (int entry = 0; entry < 2; ++entry) {
        const auto& door = doors[entry];
        SCOPED_TRACE(door.name);
        RecordingRelay relay(door.target, records.filePath(QLatin1String(door.name)));
        QSslSocket till;
        QDeadlineTimer relayUp(5000);
        do {
            till.abort();
            if (door.secure) {
                connectTls(till, relay.port());
            } else {
                till.connectToHost(QStringLiteral("127.0.0.1"), relay.port());
                till.waitForConnected(1000);
            }
        } while (
            !(door.secure ? till.isEncrypted() : till.state() == QAbstractSocket::ConnectedState) &&
            !relayUp.hasExpired());
        ASSERT_FALSE(relayUp.hasExpired()) << "no connection through the relay";

        auto customer = startTool(
            {QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
        EXPECT_EQ(transact(till, "TRANS=QP6100;ACTION=1;TIMER=20;", kSwipeReply.size()),
                  kSwipeReply);
        EXPECT_EQ(finish(*customer).exitCode, 0);
        EXPECT_EQ(transact(till, kPinRequest, pinReply(entry).size()), pinReply(entry));
        EXPECT_EQ(transact(till, "TRANS=VERSION;", kVersionReply.size()), kVersionReply);
        till.disconnectFromHost();

        const QByteArray seen = relay.recorded();
        for (const QByteArray& secret : {kCard, kPinCard, kPinBlocks[entry]})
            EXPECT_EQ(seen.contains(secret), !door.secure) << secret.constData();
    }
    // The TLS door's lines name it; the requests are logged as on any door.
    EXPECT_TRUE(
        m_server->logEntries().contains(QStringLiteral("TLS: Listening Port %1").arg(m_tlsPort)));
    EXPECT_TRUE(m_server->waitForLogEntry(QStringLiteral("TLS: Close 127.0.0.1")));
}

// What the TLS port takes and what it turns away, each with its client: the openssl command
// verifying the box against the shop CA, with either version that is served; an older version;
// bytes in clear.
TEST_F(TlsDoorE2E, OnlyTls12AndLaterIsServedAndPlainBytesAreClosedUnanswered)
{
    const struct
    {
        QStringList options;
        bool served;
    } clients[] = {
        {{QStringLiteral("-tls1_2")}, true},
        {{QStringLiteral("-tls1_3")}, true},
        // The client's own floor is lowered, so that it offers the old version.
        {{QStringLiteral("-tls1_1"), QStringLiteral("-cipher"),
          QStringLiteral("DEFAULT@SECLEVEL=0")},
         false},
    };
    int refused = 0;
    for (const auto& client : clients) {
        SCOPED_TRACE(client.options.join(QLatin1Char(' ')).toStdString());
        QProcess openssl;
        openssl.start(QStringLiteral("/usr/bin/openssl"),
                      QStringList{QStringLiteral("s_client"), QStringLiteral("-connect"),
                                  QStringLiteral("127.0.0.1:%1").arg(m_tlsPort),
                                  QStringLiteral("-CAfile"), caFile(),
                                  QStringLiteral("-verify_return_error"),
                                  QStringLiteral("-servername"), QStringLiteral("localhost"),
                                  QStringLiteral("-brief")} +
                          client.options);
        ASSERT_TRUE(openssl.waitForStarted(5000));
        openssl.write("TRANS=VERSION;");
        QByteArray out;
        QDeadlineTimer deadline(5000);
        while (!out.contains(kVersionReply) && !deadline.hasExpired() &&
               openssl.state() == QProcess::Running) {
            openssl.waitForReadyRead(100);
            out += openssl.readAllStandardOutput();
        }
        openssl.closeWriteChannel();
        EXPECT_TRUE(openssl.state() == QProcess::NotRunning || openssl.waitForFinished(5000));
        EXPECT_EQ(out.contains(kVersionReply), client.served)
            << openssl.readAllStandardError().constData();
        refused += client.served ? 0 : 1;
    }

    TestClient plain;
    ASSERT_TRUE(plain.connectTo(m_tlsPort));
    plain.send("TRANS=VERSION;");
    EXPECT_EQ(plain.receive(3000), QByteArray());
    EXPECT_EQ(plain.socket().state(), QAbstractSocket::UnconnectedState);
    ++refused;

    EXPECT_EQ(metric("varnel_tls_handshake_failures_total{door=\"tls\"}"), refused);
    EXPECT_TRUE(m_server->waitForLogEntry(
        QStringLiteral("TLS: Handshake Failed ip=[127.0.0.1] reason=[Error during SSL handshake: "
                       "error:0A00010B:SSL routines::wrong version number]"),
        3000));
}

// A client that opens the TLS port and says nothing holds its place for 10 seconds, not longer;
// a till on the same port meanwhile is served and counted.
TEST_F(TlsDoorE2E, AHandshakeNotFinishedIn10SecondsIsClosed)
{
    QElapsedTimer waited;
    TestClient silent;
    ASSERT_TRUE(silent.connectTo(m_tlsPort));
    waited.start();

    QSslSocket till;
    ASSERT_TRUE(connectTls(till, m_tlsPort));
    EXPECT_EQ(transact(till, "TRANS=VERSION;", kVersionReply.size()), kVersionReply);
    EXPECT_EQ(metric("varnel_connections_open{door=\"tls\"}"), 2);

    EXPECT_TRUE(silent.socket().state() == QAbstractSocket::UnconnectedState ||
                silent.socket().waitForDisconnected(13000));
    EXPECT_GE(waited.elapsed(), 9500);
    EXPECT_EQ(metric("varnel_connections_open{door=\"tls\"}"), 1);
    EXPECT_EQ(metric("varnel_tls_handshake_failures_total{door=\"tls\"}"), 1);
}

TEST_F(TlsDoorE2E, VarnelClientReachesTheTlsPortTrustingTheShopCaAndSendsItsKey)
{
    const auto run = [](const QString& program, const QStringList& arguments) {
        QProcess process;
        process.start(ServerProcess::binDir() + QLatin1Char('/') + program, arguments);
        process.waitForFinished(20000);
        return std::pair{process.exitCode(), QString::fromLatin1(process.readAllStandardOutput() +
                                                                 process.readAllStandardError())};
    };
    const QStringList tls{QStringLiteral("--tls"), QStringLiteral("--host"),
                          QStringLiteral("localhost"), QStringLiteral("--port"),
                          QString::number(m_tlsPort)};
    const QStringList trusting = tls + QStringList{QStringLiteral("--cafile"), caFile()};
    const QString swipe = QStringLiteral("TRANS=QP6100;ACTION=1;TIMER=1;");
    const QString refused = QStringLiteral("<QP6100><ERROR>Not Authorised</ERROR></QP6100>\n");

    const auto [added, addedOut] = run(QStringLiteral("varnelpayment"),
                                       {QStringLiteral("--home"), m_box.path(),
                                        QStringLiteral("--add-till"), QStringLiteral("Front")});
    ASSERT_EQ(added, 0) << qPrintable(addedOut);
    const QString key = addedOut.trimmed().section(QLatin1Char('\n'), -1);
    const QStringList withKey = trusting + QStringList{QStringLiteral("--key"), key};
    // The running server takes the new till in within two seconds.
    QElapsedTimer sinceAdded;
    sinceAdded.start();
    while (run(QStringLiteral("varnel-client"), withKey + QStringList{swipe}).second == refused &&
           sinceAdded.elapsed() < 4000)
        QThread::msleep(200);

    const struct
    {
        const char* what;
        QStringList arguments;
        int exitCode;
        QString output;
    } cases[] = {
        {"the shop CA trusted", trusting + QStringList{QStringLiteral("TRANS=VERSION;")}, 0,
         QString::fromLatin1(kVersionReply) + QLatin1Char('\n')},
        {"the system's CAs only", tls + QStringList{QStringLiteral("TRANS=VERSION;")}, 1,
         QStringLiteral("varnel-client: cannot connect: ")},
        {"a key no till has",
         trusting + QStringList{QStringLiteral("--key"), QStringLiteral("x"), swipe}, 0, refused},
        {"the till's key", withKey + QStringList{swipe}, 0,
         QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>\n")},
        {"a CA file without TLS",
         QStringList{QStringLiteral("--cafile"), caFile(), QStringLiteral("TRANS=VERSION;")}, 2,
         QStringLiteral("varnel-client: give a port")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto [exitCode, output] = run(QStringLiteral("varnel-client"), c.arguments);
        EXPECT_EQ(exitCode, c.exitCode) << qPrintable(output);
        EXPECT_TRUE(output.startsWith(c.output)) << qPrintable(output);
    }
    EXPECT_FALSE(TestFiles::readAll(m_box.filePath(QStringLiteral("varnelpayment.log")))
                     .contains(key.toLatin1()));
}
