// End-to-end: tills' keys on the real server, with the simulated pad (read through varnel-pad)
// and varnel-pinpad on a pseudo-terminal, so that a refused request is seen to reach neither.
#include <memory>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

#include <QEventLoop>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>

#include "pinpadsimulatorprocess.h"
#include "simulatedanswers.h"
#include "tillse2e.h"

namespace {

const QByteArray kPadRefused = "<QP6100><ERROR>Not Authorised</ERROR></QP6100>";
const QByteArray kPinRefused = "<1000SE><ERROR>Not Authorised</ERROR></1000SE>";
const QByteArray kVersion = "<VERSION>1.0.0</VERSION>";

QByteArray withKey(const QString& key, const QByteArray& request)
{
    return "KEY=" + key.toLatin1() + ';' + request;
}

void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` or `timeoutMs` has passed; whether it is done.
template <typename Done> bool spinUntil(Done done, int timeoutMs = 5000)
{
    QElapsedTimer waited;
    waited.start();
    while (!done() && waited.elapsed() < timeoutMs)
        spin(10);
    return done();
}

class TillsE2E : public ::testing::Test
{
protected:
    const quint16 m_webSocketPort = ServerProcess::freePort();

    // The server with the simulated pad ticked, the 1000SE on COM3 (varnel-pinpad), the
    // metrics port, the WebSocket port and `tills` as its [Tills] section. Made before it starts,
    // so that tills can be added first.
    void makeServer(const QString& tills)
    {
        const QString link = m_dir.filePath(QStringLiteral("pinpad"));
        ASSERT_TRUE(m_pinPad.start(link, {})) << "varnel-pinpad did not start";
        m_controlPort = ServerProcess::freePort();
        m_metricsPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[1000SE]\r\n1000SEDevice=1\r\n"
                           "1000SECommPort=3\r\n[SerialPorts]\r\nCOM3=%2\r\n[Metrics]\r\n"
                           "Port=%3\r\n[WebSocket]\r\nPort=%4\r\n[Tills]\r\n%5")
                .arg(m_controlPort)
                .arg(link)
                .arg(m_metricsPort)
                .arg(m_webSocketPort)
                .arg(tills),
            QStringList{QStringLiteral("--simulate")});
    }
    void start() { ASSERT_TRUE(m_server->start()) << "server did not start"; }
    ServerProcess& server() { return *m_server; }
    QString home() const { return m_server->home(); }
    PinPadSimulator& pinPad() { return m_pinPad; }

    QProcess* padTool(const QStringList& arguments)
    {
        auto* tool = new QProcess;
        m_tools.emplace_back(tool);
        tool->start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                    QStringList{QStringLiteral("--port"), QString::number(m_controlPort)} +
                        arguments);
        EXPECT_TRUE(tool->waitForStarted(5000));
        return tool;
    }
    // The form the pad shows now.
    QString padForm()
    {
        QProcess* tool = padTool({QStringLiteral("state")});
        EXPECT_TRUE(tool->waitForFinished(10000));
        for (const QString& line :
             QString::fromUtf8(tool->readAllStandardOutput()).split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("form=")))
                return line.mid(5);
        return {};
    }
    bool padShows(const QString& form)
    {
        QProcess* tool = padTool(
            {QStringLiteral("--wait"), QStringLiteral("5"), QStringLiteral("wait-form"), form});
        return tool->waitForFinished(10000) && tool->exitCode() == 0;
    }
    QByteArray get(const QByteArray& path)
    {
        TestClient client;
        if (!client.connectTo(m_metricsPort))
            return {};
        client.send("GET " + path + " HTTP/1.1\r\nHost: box\r\nConnection: close\r\n\r\n");
        return client.receive(3000);
    }

    // What a refused request must not have done: nothing on the pad or the PIN pad, and no
    // device operation in the log.
    void expectNoDeviceTouched(const QString& what)
    {
        EXPECT_EQ(padForm(), QStringLiteral("padWelcome")) << qPrintable(what);
        for (const QString& line : pinPad().lines())
            EXPECT_TRUE(line.startsWith(QStringLiteral("ready"))) << qPrintable(what + line);
        const QStringList log = server().logEntries();
        for (const QString& entry : log) {
            EXPECT_FALSE(entry.startsWith(QStringLiteral("qp6100_get_")) ||
                         entry.startsWith(QStringLiteral("pinPad1000se_get_pin")))
                << qPrintable(what + QStringLiteral(": ") + entry);
        }
    }

private:
    QTemporaryDir m_dir;
    PinPadSimulator m_pinPad;
    quint16 m_controlPort = 0;
    quint16 m_metricsPort = 0;
    std::unique_ptr<ServerProcess> m_server;
    std::vector<std::unique_ptr<QProcess>> m_tools;
};

} // namespace

TEST_F(TillsE2E, WithAKeyRequiredOnlyARegisteredTillsKeyReachesTheDevices)
{
    makeServer(QStringLiteral("RequireKey=Y\r\n"));
    const QString front = addTill(home(), QStringLiteral("Front"));
    const QString back = addTill(home(), QStringLiteral("Back"));
    const QString removed = addTill(home(), QStringLiteral("Old"));
    ASSERT_EQ(
        varnelpayment(home(), {QStringLiteral("--remove-till"), QStringLiteral("Old")}).exitCode,
        0);
    start();
    QString wrong = front;
    wrong[0] = wrong[0] == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');

    const struct
    {
        const char* what;
        QByteArray request;
        QByteArray reply; // empty: none
    } refused[] = {
        {"a swipe without a key", "TRANS=QP6100;ACTION=1;TIMER=30;", kPadRefused},
        {"a swipe with a wrong key", withKey(wrong, "TRANS=QP6100;ACTION=1;"), kPadRefused},
        {"a signature with a removed till's key",
         "TRANS=QP6100;ACTION=2;UNIQU=a1;" + withKey(removed, {}), kPadRefused},
        {"a pad command without a key", "TRANS=QP6100;ACTION=3;", kPadRefused},
        {"a PIN entry without a key", kPinRequest, kPinRefused},
        {"a PIN entry with a wrong key", withKey(wrong.left(10), kPinRequest), kPinRefused},
        {"a PIN entry with a removed till's key", kPinRequest + withKey(removed, {}), kPinRefused},
        {"an abort without a key", "TRANS=ABORT;", {}},
        {"a bare timer with a wrong key", withKey(wrong, "TIMER=1;"), {}},
    };
    for (const auto& r : refused) {
        TestClient till;
        ASSERT_TRUE(till.connectTo(server().port()));
        till.send(r.request);
        EXPECT_EQ(till.receive(r.reply.isEmpty() ? 500 : 3000, r.reply.size()), r.reply) << r.what;
        expectNoDeviceTouched(QLatin1String(r.what));
    }
    // What needs no key is served as ever.
    TestClient anyone;
    ASSERT_TRUE(anyone.connectTo(server().port()));
    EXPECT_EQ(anyone.transact("TRANS=VERSION;", kVersion), kVersion);
    EXPECT_TRUE(anyone.transact("TRANS=STATUS;", "<STATUS>").startsWith("<STATUS>"));

    // A swipe with a key waits; an abort and a timer without one leave it waiting.
    TestClient swipeTill;
    ASSERT_TRUE(swipeTill.connectTo(server().port()));
    swipeTill.send(withKey(front, "TRANS=QP6100;ACTION=1;TIMER=30;"));
    ASSERT_TRUE(padShows(QStringLiteral("padStart")));
    anyone.send("TRANS=ABORT;");
    anyone.send("TIMER=1;");
    EXPECT_TRUE(anyone.receive(1500).isEmpty());
    EXPECT_EQ(padForm(), QStringLiteral("padStart"));
    EXPECT_TRUE(swipeTill.receive(100).isEmpty());
    padTool({QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    EXPECT_EQ(swipeTill.receive(5000, kSwipeReply.size()), kSwipeReply);

    // Another till's key works on the PIN pad.
    TestClient pinTill;
    ASSERT_TRUE(pinTill.connectTo(server().port()));
    pinTill.send(withKey(back, kPinRequest));
    EXPECT_EQ(pinTill.receive(8000, kPinReply.size()), kPinReply);

    const QStringList log = server().logEntries();
    EXPECT_TRUE(
        log.contains(QStringLiteral("Socket: DataArrival Parse tag=[KEY] value=[********]")));
    EXPECT_TRUE(log.contains(QStringLiteral("Socket: DataArrival Not Authorised ip=[127.0.0.1]")));
    // Each served request names its till right after its parse lines.
    const QString frontParsed = QStringLiteral(
        "Socket: DataArrival Parse transType=[QP6100] action=[1] doFtp=[False] name=[] total=[] ");
    const QString backParsed = QStringLiteral(
        "Socket: DataArrival Parse transType=[1000SE] action=[3] doFtp=[False] name=[] "
        "total=[12.34] ");
    EXPECT_EQ(log.value(log.lastIndexOf(frontParsed) + 1),
              QStringLiteral("Socket: Till name=[Front]"));
    EXPECT_EQ(log.value(log.lastIndexOf(backParsed) + 1),
              QStringLiteral("Socket: Till name=[Back]"));
    EXPECT_EQ(log.filter(QStringLiteral("Socket: Till name=")).size(), 2);

    const QByteArray metrics = get("/metrics");
    EXPECT_TRUE(metrics.contains("\nvarnel_requests_refused_total{reason=\"key\"} 11\n"))
        << metrics.constData();
    EXPECT_TRUE(metrics.contains("\nvarnel_till_requests_total{till=\"Front\"} 1\n"));
    EXPECT_TRUE(metrics.contains("\nvarnel_till_requests_total{till=\"Back\"} 1\n"));
    EXPECT_FALSE(metrics.contains("till=\"Old\""));
    const QByteArray seen =
        fileBytes(home() + QStringLiteral("/varnelpayment.log")) + metrics + get("/health");
    for (const QString& key : {front, back, removed, wrong})
        EXPECT_FALSE(seen.contains(key.toLatin1())) << qPrintable(key);
}

TEST_F(TillsE2E, ARemovedTillIsCutOffAtOnceAndTheOthersLiveOnAcrossARestart)
{
    makeServer(QStringLiteral("RequireKey=N\r\n"));
    const QString front = addTill(home(), QStringLiteral("Front"));
    const QString back = addTill(home(), QStringLiteral("Back"));
    start();

    // Without a key a till is served as ever; with a wrong one it is refused.
    TestClient plain;
    ASSERT_TRUE(plain.connectTo(server().port()));
    plain.send(kPinRequest);
    EXPECT_EQ(plain.receive(8000, kPinReply.size()), kPinReply);
    plain.send(withKey(back + QLatin1Char('x'), "TRANS=QP6100;ACTION=1;"));
    EXPECT_EQ(plain.receive(3000, kPadRefused.size()), kPadRefused);

    TestClient frontTill;
    ASSERT_TRUE(frontTill.connectTo(server().port()));
    frontTill.send(withKey(front, "TRANS=QP6100;ACTION=1;TIMER=30;"));
    ASSERT_TRUE(padShows(QStringLiteral("padStart")));
    TestClient backTill;
    ASSERT_TRUE(backTill.connectTo(server().port()));
    EXPECT_EQ(backTill.transact(withKey(back, "TRANS=VERSION;"), kVersion), kVersion);
    // A browser till of the same name, on the WebSocket port.
    QWebSocket frontPage;
    QStringList pageReplies;
    QObject::connect(&frontPage, &QWebSocket::textMessageReceived,
                     [&](const QString& text) { pageReplies << text; });
    frontPage.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(m_webSocketPort)));
    ASSERT_TRUE(spinUntil([&] { return frontPage.state() == QAbstractSocket::ConnectedState; }));
    frontPage.sendTextMessage(QString::fromLatin1(withKey(front, "TRANS=VERSION;")));
    ASSERT_TRUE(spinUntil([&] { return !pageReplies.isEmpty(); }));
    EXPECT_EQ(pageReplies, QStringList{QString::fromLatin1(kVersion)});

    QElapsedTimer sinceRemoved;
    sinceRemoved.start();
    ASSERT_EQ(
        varnelpayment(home(), {QStringLiteral("--remove-till"), QStringLiteral("Front")}).exitCode,
        0);
    ASSERT_TRUE(frontTill.socket().state() == QAbstractSocket::UnconnectedState ||
                frontTill.socket().waitForDisconnected(3000));
    EXPECT_LT(sinceRemoved.elapsed(), 2500);
    EXPECT_TRUE(
        spinUntil([&] { return frontPage.state() == QAbstractSocket::UnconnectedState; }, 2000));
    EXPECT_EQ(frontPage.closeCode(), QWebSocketProtocol::CloseCodePolicyViolated);
    // The swipe it waited for ended with it; the pad is free for the others.
    EXPECT_TRUE(padShows(QStringLiteral("padWelcome")));
    EXPECT_EQ(backTill.socket().state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(backTill.transact(withKey(back, "TRANS=VERSION;"), kVersion), kVersion);
    TestClient again;
    ASSERT_TRUE(again.connectTo(server().port()));
    EXPECT_EQ(again.transact(withKey(front, "TRANS=QP6100;ACTION=1;"), kPadRefused), kPadRefused);

    // A till added while the server runs is served within two seconds.
    const QString side = addTill(home(), QStringLiteral("Side"));
    QThread::msleep(2000);
    again.send(withKey(side, kPinRequest));
    // The PIN pad's second PIN block.
    EXPECT_TRUE(again.receive(8000, kPinReply.size()).startsWith("<1000SE><PINBLOCK>"));

    ASSERT_EQ(server().stop(), 0);
    start();
    TestClient afterRestart;
    ASSERT_TRUE(afterRestart.connectTo(server().port()));
    for (const QString& key : {back, side})
        EXPECT_EQ(afterRestart.transact(withKey(key, "TRANS=VERSION;"), kVersion), kVersion);
    EXPECT_EQ(afterRestart.transact(withKey(front, kPinRequest), kPinRefused), kPinRefused);

    // The last uses were kept at shut-down; keys never show.
    const CommandRun list = varnelpayment(home(), {QStringLiteral("--list-tills")});
    const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << qPrintable(list.out);
    for (const QString& line : lines)
        EXPECT_TRUE(line.endsWith(QStringLiteral(" from 127.0.0.1"))) << qPrintable(line);
    EXPECT_TRUE(lines.value(0).startsWith(QStringLiteral("Back\t")));
    EXPECT_TRUE(lines.value(1).startsWith(QStringLiteral("Side\t")));
    const QByteArray seen = fileBytes(home() + QStringLiteral("/varnelpayment.log")) +
                            get("/metrics") + get("/health") + list.out.toLatin1();
    for (const QString& key : {front, back, side})
        EXPECT_FALSE(seen.contains(key.toLatin1())) << qPrintable(key);
}

TEST(TillsTlsE2E, ARemovedTillsConnectionOnTheTlsPortIsClosedToo)
{
    const quint16 tlsPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[WebSocket]\r\nCertFile=varnelpayment.pem\r\n"
                                        "KeyFile=varnelpayment.key\r\n[TLS]\r\nPort=%1\r\n")
                             .arg(tlsPort));
    // The box's certificate, signed by a CA made in the program folder.
    ASSERT_EQ(varnelpayment(server.home(),
                            {QStringLiteral("--make-certificate"), QStringLiteral("localhost")})
                  .exitCode,
              0);
    const QString key = addTill(server.home(), QStringLiteral("Front"));
    ASSERT_TRUE(server.start());

    QSslSocket till;
    QSslConfiguration tls = till.sslConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(server.home() + QStringLiteral("/ca/ca.pem")));
    till.setSslConfiguration(tls);
    till.connectToHostEncrypted(QStringLiteral("127.0.0.1"), tlsPort, QStringLiteral("localhost"));
    ASSERT_TRUE(till.waitForEncrypted(5000)) << qPrintable(till.errorString());
    till.write(withKey(key, "TRANS=VERSION;"));
    QByteArray reply;
    while (reply.size() < kVersion.size() && till.waitForReadyRead(5000))
        reply += till.readAll();
    EXPECT_EQ(reply, kVersion);

    QElapsedTimer sinceRemoved;
    sinceRemoved.start();
    ASSERT_EQ(
        varnelpayment(server.home(), {QStringLiteral("--remove-till"), QStringLiteral("Front")})
            .exitCode,
        0);
    EXPECT_TRUE(till.state() == QAbstractSocket::UnconnectedState ||
                till.waitForDisconnected(3000));
    EXPECT_LT(sinceRemoved.elapsed(), 2500);
}
