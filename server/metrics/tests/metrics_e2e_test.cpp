// End-to-end: the real varnelpayment with its metrics port, its simulated pad driven by
// varnel-pad, a real Prometheus scraping it, and systemd's notifications read from the test's
// own datagram socket.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSocketNotifier>

#include "pade2e.h"
#include "prometheusprocess.h"
#include "simulatedanswers.h"
#include "watchdogbeats.h"

namespace {

const QByteArray kBusyReply("<QP6100><ERROR>Pad Busy</ERROR></QP6100>");
const QByteArray kPinError("<1000SE><ERROR>Error Initializing Pad</ERROR></1000SE>");

// One blocking HTTP request to the server in its own process.
HttpExchange fetch(quint16 port, const QByteArray& path)
{
    return get(port, path);
}

bool promtoolAccepts(const QByteArray& text, QString* said)
{
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(5000))
        return false;
    promtool.write(text);
    promtool.closeWriteChannel();
    promtool.waitForFinished(10000);
    *said = QString::fromUtf8(promtool.readAllStandardOutput() + promtool.readAllStandardError());
    return promtool.exitCode() == 0 && said->trimmed().isEmpty();
}

class MetricsE2E : public PadE2E
{
protected:
    // The server with the metrics port, the PIN pad's box ticked on a port that is not there.
    void startWithMetrics(const QStringList& arguments)
    {
        m_metricsPort = ServerProcess::freePort();
        startServer(arguments,
                    QStringLiteral("[Metrics]\r\nPort=%1\r\n[1000SE]\r\n1000SEDevice=1\r\n"
                                   "1000SECommPort=7\r\n1000SEBaudRate=1200\r\n"
                                   "1000SEParity=E\r\n1000SEDataBits=7\r\n")
                        .arg(m_metricsPort));
    }
    QByteArray metrics() { return fetch(m_metricsPort, "/metrics").body(); }

    quint16 m_metricsPort = 0;
};

} // namespace

TEST_F(MetricsE2E, CountersFollowASwipeABusyRefusalAndAPinEntryWithoutTheCardNumber)
{
    startWithMetrics({QStringLiteral("--simulate")});
    TestClient till;
    ASSERT_TRUE(till.connectTo(server().port()));
    const QByteArray idle("<STATUS><QP6100>ready</QP6100><1000SE>disconnected</1000SE></STATUS>");
    EXPECT_EQ(till.transact("TRANS=STATUS;", idle), idle);

    // A swipe waits; meanwhile a second swipe is refused busy and STATUS says so at once.
    TestClient waiting;
    ASSERT_TRUE(waiting.connectTo(server().port()));
    waiting.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padStart")}).exitCode, 0);
    EXPECT_EQ(till.transact("TRANS=QP6100;ACTION=1;TIMER=30;", kBusyReply), kBusyReply);
    const QByteArray held("<STATUS><QP6100>busy</QP6100><1000SE>disconnected</1000SE></STATUS>");
    QElapsedTimer atOnce;
    atOnce.start();
    EXPECT_EQ(till.transact("TRANS=STATUS;", held), held);
    EXPECT_LT(atOnce.elapsed(), 250);
    const ToolRun swipe =
        tool({QStringLiteral("swipe"), QString::fromLatin1(kTrack1), QString::fromLatin1(kTrack2)});
    EXPECT_EQ(swipe.exitCode, 0) << qPrintable(swipe.err);
    EXPECT_EQ(waiting.receive(5000, kSwipeReply.size()), kSwipeReply);
    // The PIN pad's port is not there: its entry fails.
    EXPECT_EQ(
        till.transact("TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=1.00;", kPinError),
        kPinError);

    const QByteArray text = metrics();
    QString said;
    EXPECT_TRUE(promtoolAccepts(text, &said)) << qPrintable(said);
    EXPECT_EQ(sample(text, "varnel_requests_total{trans=\"QP6100\"}"), 2);
    EXPECT_EQ(sample(text, "varnel_requests_total{trans=\"1000SE\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_requests_total{trans=\"STATUS\"}"), 2);
    EXPECT_EQ(sample(text, "varnel_replies_total{device=\"pad\",outcome=\"ok\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_replies_total{device=\"pad\",outcome=\"busy\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_replies_total{device=\"pinpad\",outcome=\"error\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_operation_seconds_count{operation=\"swipe\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_connections_open{door=\"tcp\"}"), 2);
    EXPECT_EQ(sample(text, "varnel_device_up{device=\"pad\"}"), 1);
    EXPECT_EQ(sample(text, "varnel_device_up{device=\"pinpad\"}"), 0);
    EXPECT_GT(sample(text, "varnel_device_last_seen_seconds{device=\"pad\"}"), 1.7e9);
    EXPECT_FALSE(text.contains("4111111111111111"));
    EXPECT_FALSE(text.contains("4012345678909"));
    EXPECT_FALSE(text.contains("DOE"));
    EXPECT_FALSE(text.contains("127.0.0.1"));

    // The PIN pad ticked but not there, and failed: the box fails its health check.
    const HttpExchange health = fetch(m_metricsPort, "/health");
    EXPECT_EQ(health.status(), 503);
    EXPECT_EQ(QJsonDocument::fromJson(health.body()).object().value(QStringLiteral("status")),
              QStringLiteral("fail"));
}

TEST_F(MetricsE2E, ThePadsGaugeFollowsItsBoxAndPrometheusScrapesTheBox)
{
    struct Case
    {
        QStringList arguments;
        double padUp;
        const char* status;
    };
    const Case cases[] = {{{QStringLiteral("--simulate")}, 1, "<QP6100>ready</QP6100>"},
                          {{}, 0, "<QP6100>off</QP6100>"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.padUp);
        startWithMetrics(c.arguments);
        TestClient till;
        ASSERT_TRUE(till.connectTo(server().port()));
        till.send("TRANS=STATUS;");
        EXPECT_TRUE(till.receive(3000).contains(c.status));
        till.close();

        PrometheusProcess prometheus;
        ASSERT_TRUE(prometheus.start(m_metricsPort));
        EXPECT_EQ(prometheus.await(QStringLiteral("varnel_device_up{device=\"pad\"}"), c.padUp),
                  c.padUp);
        EXPECT_EQ(prometheus.await(QStringLiteral("varnel_requests_total{trans=\"STATUS\"}"), 1),
                  1);
        if (HasFailure())
            std::fprintf(stderr, "%s\n", prometheus.output().constData());
        server().stop();
    }
}

TEST_F(MetricsE2E, TheWatchdogHearsReadyAfterTheListenBeatsAtHalfItsIntervalAndStopping)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("notify")).toLocal8Bit();
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);

    m_controlPort = ServerProcess::freePort();
    m_server = std::make_unique<ServerProcess>(
        QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n").arg(m_controlPort),
        QStringList{QStringLiteral("--simulate")});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), QString::fromLocal8Bit(path));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("1000000"));
    m_server->process().setProcessEnvironment(environment);

    // Each message with when it came, and whether the port answered at that moment.
    struct Message
    {
        qint64 at;
        QByteArray text;
        bool listening;
    };
    QList<Message> messages;
    QElapsedTimer clock;
    clock.start();
    QSocketNotifier readable(fd, QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, m_server->port());
            messages.append({clock.elapsed(), QByteArray(buffer, n), probe.waitForConnected(1000)});
        }
    });
    ASSERT_TRUE(m_server->start());
    // Until READY and five beats have come, or ten seconds.
    QEventLoop loop;
    QTimer enough;
    QObject::connect(&enough, &QTimer::timeout, &loop, [&] {
        if (messages.size() >= 6)
            loop.quit();
    });
    enough.start(50);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    enough.stop();
    EXPECT_EQ(m_server->stop(), 0);
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    ::close(fd);

    ASSERT_GE(messages.size(), 3);
    EXPECT_TRUE(messages.first().text.startsWith("READY=1\nSTATUS=port "))
        << messages.first().text.constData();
    EXPECT_TRUE(messages.first().text.contains("QP6100 ready"));
    EXPECT_TRUE(messages.first().listening);
    EXPECT_EQ(messages.last().text, "STOPPING=1");
    QList<qint64> beats;
    for (const Message& m : messages.mid(1, messages.size() - 2)) {
        EXPECT_EQ(m.text, "WATCHDOG=1");
        beats << m.at;
    }
    ASSERT_GE(beats.size(), 5);
    expectBeatsAtHalfTheInterval(messages.first().at, beats, 1000);
}
