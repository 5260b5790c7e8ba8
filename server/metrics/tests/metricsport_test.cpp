// The metrics port in this process: its text as promtool reads it and as the events move it,
// the health answer's codes, and what the port does with requests it does not serve.
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "metricsfixture.h"

namespace {

// Runs `promtool check metrics` on the text; its complaints, empty when it accepts the text.
QString promtoolComplaints(const QByteArray& text)
{
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"),
                   {QStringLiteral("check"), QStringLiteral("metrics")});
    if (!promtool.waitForStarted(5000))
        return QStringLiteral("promtool did not start");
    promtool.write(text);
    promtool.closeWriteChannel();
    if (!promtool.waitForFinished(10000))
        return QStringLiteral("promtool did not finish");
    const QString said =
        QString::fromUtf8(promtool.readAllStandardOutput() + promtool.readAllStandardError());
    return promtool.exitCode() == 0 && said.trimmed().isEmpty() ? QString() : said;
}

} // namespace

TEST_F(MetricsPortTest, TheTextPassesPromtoolAndMovesWithTheEvents)
{
    open();
    m_pad = {true, true, false};
    const HttpExchange before = get(port(), "/metrics");
    ASSERT_EQ(before.status(), 200) << before.bytes.constData();
    EXPECT_EQ(before.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
    EXPECT_TRUE(before.closedByServer);
    EXPECT_EQ(promtoolComplaints(before.body()), QString());
    EXPECT_EQ(sample(before.body(), "varnel_build_info{version=\"1.0.0\"}"), 1);
    EXPECT_GT(sample(before.body(), "process_resident_memory_bytes"), 1e6);
    EXPECT_GT(sample(before.body(), "process_start_time_seconds"), 1.7e9);
    EXPECT_EQ(sample(before.body(), "varnel_device_up{device=\"pad\"}"), 1);
    EXPECT_EQ(sample(before.body(), "varnel_device_up{device=\"pinpad\"}"), 0);
    EXPECT_EQ(sample(before.body(), "varnel_device_last_seen_seconds{device=\"pad\"}"), 0);
    // The metrics port's own connections are not clients' connections.
    EXPECT_EQ(sample(before.body(), "varnel_connections_open{door=\"tcp\"}"), 0);

    const qint64 now = QDateTime::currentSecsSinceEpoch();
    m_telemetry.requestReceived(QStringLiteral("QP6100"));
    m_telemetry.requestReceived(QStringLiteral("QP6100"));
    m_telemetry.requestReceived(QStringLiteral("TIMER"));
    m_telemetry.replySent(DeviceId::Pad, ReplyOutcome::Busy, true);
    m_telemetry.replySent(DeviceId::Pad, ReplyOutcome::Ok, true);
    m_telemetry.replySent(DeviceId::PinPad, ReplyOutcome::Cancelled, true);
    m_telemetry.operationTook(OperationKind::Swipe, 1.5);
    m_telemetry.connectionOpened(Door::WebSocket);
    m_telemetry.connectionOpened(Door::Tcp);
    m_telemetry.connectionClosed(Door::Tcp);
    m_telemetry.connectionRefused(RefusalReason::Origin);
    m_telemetry.uploadFinished(false, false);
    m_telemetry.certificateExpires(now + 86400);
    m_pad.ticked = false;

    const QByteArray after = get(port(), "/metrics").body();
    EXPECT_EQ(promtoolComplaints(after), QString());
    EXPECT_EQ(sample(after, "varnel_requests_total{trans=\"QP6100\"}"), 2);
    EXPECT_EQ(sample(after, "varnel_requests_total{trans=\"other\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_requests_total{trans=\"VERSION\"}"), 0);
    EXPECT_EQ(sample(after, "varnel_replies_total{device=\"pad\",outcome=\"busy\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_replies_total{device=\"pad\",outcome=\"ok\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_replies_total{device=\"pinpad\",outcome=\"cancelled\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_operation_seconds_count{operation=\"swipe\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_operation_seconds_bucket{operation=\"swipe\",le=\"1\"}"), 0);
    EXPECT_EQ(sample(after, "varnel_operation_seconds_bucket{operation=\"swipe\",le=\"2.5\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_connections_open{door=\"websocket\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_connections_open{door=\"tcp\"}"), 0);
    EXPECT_EQ(sample(after, "varnel_connections_refused_total{reason=\"origin\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_signature_uploads_total{outcome=\"failed\"}"), 1);
    EXPECT_EQ(sample(after, "varnel_certificate_expiry_seconds"), double(now + 86400));
    // The pad answered while ticked; with its box unticked it is down.
    EXPECT_GE(sample(after, "varnel_device_last_seen_seconds{device=\"pad\"}"), double(now));
    EXPECT_EQ(sample(after, "varnel_device_up{device=\"pad\"}"), 0);
}

TEST_F(MetricsPortTest, TheLogsFailedWritesAreCounted)
{
    open();
    // A log whose folder is a file cannot be written.
    QFile blocker(m_home.filePath(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ActivityLog broken(m_home.filePath(QStringLiteral("blocker/varnelpayment.log")), m_clock);
    PrometheusTelemetry telemetry(m_board, broken, QStringLiteral("1.0.0"));
    EXPECT_EQ(sample(telemetry.text(), "varnel_log_write_failures_total"), 0);
    broken.log(QStringLiteral("one"));
    broken.log(QStringLiteral("two"));
    EXPECT_EQ(sample(telemetry.text(), "varnel_log_write_failures_total"), 2);
    EXPECT_EQ(sample(telemetry.text(), "varnel_log_write_failures_total"), 2);
}

TEST_F(MetricsPortTest, HealthIsPassWarnOrFailWithItsCode)
{
    struct Case
    {
        const char* what;
        DeviceSwitches pad;
        DeviceSwitches pinPad;
        bool padFailedLast;
        bool webSocketClosed;
        int code;
        const char* status;
    };
    const Case cases[] = {
        {"pad ready, PIN pad off", {true, true, false}, {}, false, false, 200, "pass"},
        {"pad at work, its port held", {true, false, true}, {}, false, false, 200, "pass"},
        {"no device ticked", {}, {}, false, false, 200, "warn"},
        {"the WebSocket port did not open", {true, true, false}, {}, false, true, 200, "warn"},
        {"PIN pad's port does not open",
         {true, true, false},
         {true, false, false},
         false,
         false,
         503,
         "fail"},
        {"pad failed its last operation", {true, true, false}, {}, true, false, 503, "fail"},
        {"an unticked pad whose last operation failed", {}, {}, true, false, 200, "warn"},
    };
    open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_pad = {true, true, false};
        // A failure stays until the device next answers well.
        m_board.recordReply(DeviceId::Pad, c.padFailedLast ? ReplyOutcome::Error : ReplyOutcome::Ok,
                            1800000000);
        m_pad = c.pad;
        m_pinPad = c.pinPad;
        m_ports = {{QStringLiteral("tcp"), true, 4444},
                   {QStringLiteral("websocket"), true, quint16(c.webSocketClosed ? 0 : 4445)},
                   {QStringLiteral("metrics"), false, 0}};
        const HttpExchange health = get(port(), "/health");
        EXPECT_EQ(health.status(), c.code);
        EXPECT_EQ(health.header("Content-Type"), "application/health+json");
        const QJsonObject answer = QJsonDocument::fromJson(health.body()).object();
        EXPECT_EQ(answer.value(QStringLiteral("status")).toString(), QLatin1String(c.status));
        EXPECT_EQ(answer.value(QStringLiteral("version")).toString(), QStringLiteral("1.0.0"));
        const QJsonObject checks = answer.value(QStringLiteral("checks")).toObject();
        const QJsonObject pad =
            checks.value(QStringLiteral("pad:state")).toArray().at(0).toObject();
        EXPECT_EQ(pad.value(QStringLiteral("ticked")).toBool(), c.pad.ticked);
        EXPECT_EQ(pad.value(QStringLiteral("busy")).toBool(), c.pad.busy);
        // A failure does not take back when the device was last seen.
        EXPECT_EQ(pad.value(QStringLiteral("lastSeen")).toString(),
                  QStringLiteral("2027-01-15T08:00:00Z"));
        EXPECT_TRUE(checks.contains(QStringLiteral("pinpad:state")));
        EXPECT_EQ(checks.value(QStringLiteral("ports:listening")).toArray().size(), 2);
    }
}

TEST_F(MetricsPortTest, OtherPathsMethodsAndOversizedOrSlowRequestsAreNotServed)
{
    open();
    EXPECT_EQ(get(port(), "/").status(), 404);
    EXPECT_EQ(get(port(), "/metrics/extra").status(), 404);
    EXPECT_EQ(get(port(), "/metrics?name=x").status(), 200);
    const HttpExchange post = get(port(), "/metrics", "POST");
    EXPECT_EQ(post.status(), 405);
    EXPECT_EQ(post.header("Allow"), "GET, HEAD");
    EXPECT_EQ(get(port(), "/health", "DELETE").status(), 405);

    // Headers past 8 KiB without their end: closed unanswered, at once.
    const HttpExchange large =
        exchange(port(), {"GET /metrics HTTP/1.1\r\nX-Fill: " + QByteArray(9000, 'a')});
    EXPECT_TRUE(large.closedByServer);
    EXPECT_TRUE(large.bytes.isEmpty());
    // Exactly at the limit it is still read.
    QByteArray fitting = "GET /health HTTP/1.1\r\nX-Fill: ";
    fitting += QByteArray(MetricsPort::kMaxRequestBytes - fitting.size() - 4, 'a') + "\r\n\r\n";
    EXPECT_EQ(exchange(port(), {fitting}).status(), 200);
    // One byte more is closed unanswered, however soon its end comes.
    const HttpExchange over = exchange(port(), {fitting.insert(30, 'a')});
    EXPECT_TRUE(over.closedByServer);
    EXPECT_TRUE(over.bytes.isEmpty());

    // A client that sends its request a little at a time, too slowly, is closed unanswered
    // after 10 seconds.
    QElapsedTimer clock;
    clock.start();
    const HttpExchange slow =
        exchange(port(), {"GET /met", "rics HTTP/1.1\r\n", "Host: box\r\n", "X: 1\r\n"},
                 MetricsPort::kRequestTimeoutMs + 3000, 3000);
    EXPECT_TRUE(slow.closedByServer);
    EXPECT_TRUE(slow.bytes.isEmpty());
    EXPECT_GE(clock.elapsed(), MetricsPort::kRequestTimeoutMs - 100);
    EXPECT_LT(clock.elapsed(), MetricsPort::kRequestTimeoutMs + 2500);
}

TEST_F(MetricsPortTest, TheRequestHeadIsReadAsHttp11Says)
{
    open();
    const struct
    {
        QByteArray request;
        int status;
    } cases[] = {
        {"GET /metrics HTTP/1.0\r\n\r\n", 200},
        {"GET /health HTTP/1.1\nHost: box\n\n", 200},
        {"\r\nGET /metrics HTTP/1.1\r\nHost: box\r\n\r\n", 200},
        {"GET http://box:9100/metrics HTTP/1.1\r\nHost: box:9100\r\n\r\n", 200},
        {"GET HTTPS://box/health?full=1 HTTP/1.1\r\n\r\n", 200},
        {"GET http://box?x HTTP/1.1\r\n\r\n", 404},
        {"OPTIONS * HTTP/1.1\r\n\r\n", 404},
        {"get /metrics HTTP/1.1\r\n\r\n", 405},
        {"GET /metrics\r\n\r\n", 400},
        {"GET  /metrics HTTP/1.1\r\n\r\n", 400},
        {"GET /metrics HTTP/1.1\r\nHost : box\r\n\r\n", 400},
        {"GET /metrics HTTP/1.1\r\nX-A: 1\r\n folded\r\n\r\n", 400},
        {"GET /metrics HTTP/1.1\r\nno colon\r\n\r\n", 400},
        {"CONNECT box:443 HTTP/1.1\r\n\r\n", 400},
        {"GET /metrics HTTP/2.0\r\n\r\n", 505},
    };
    for (const auto& c : cases) {
        const HttpExchange answered = exchange(port(), {c.request});
        EXPECT_EQ(answered.status(), c.status) << c.request.constData();
        EXPECT_TRUE(answered.closedByServer) << c.request.constData();
        EXPECT_EQ(answered.header("Content-Length").toInt(), answered.body().size())
            << c.request.constData();
    }

    // HEAD tells the length that GET's body has, and sends no body.
    const HttpExchange head = get(port(), "/health", "HEAD");
    EXPECT_EQ(head.status(), 200);
    EXPECT_TRUE(head.body().isEmpty());
    EXPECT_EQ(head.header("Content-Length").toInt(), get(port(), "/health").body().size());
    EXPECT_EQ(head.header("Content-Type"), "application/health+json");
}

TEST_F(MetricsPortTest, AnAddressOutsideTheAllowListIsClosedUnreadAndCounted)
{
    open(QStringLiteral("192.0.2.0/24"));
    const HttpExchange refused = get(port(), "/metrics");
    EXPECT_TRUE(refused.closedByServer);
    EXPECT_TRUE(refused.bytes.isEmpty());
    EXPECT_EQ(sample(m_telemetry.text(), "varnel_connections_refused_total{reason=\"allowlist\"}"),
              1);
    // Its place under the cap is not kept.
    EXPECT_EQ(m_limit.open(), 0);
}

TEST_F(MetricsPortTest, APortThatIsNotAskedForStaysClosed)
{
    Admission admission(m_log, AccessPolicy(), m_limit);
    const auto port = [&](const char* setting) {
        return std::make_unique<MetricsPort>(m_log, admission, MetricsPort::Pages{},
                                             MetricsSettings{QLatin1String(setting)},
                                             QStringLiteral("127.0.0.1"));
    };
    for (const char* closed : {"", "0"}) {
        const auto unasked = port(closed);
        EXPECT_TRUE(unasked->start()) << closed;
        EXPECT_EQ(unasked->listeningPort(), 0) << closed;
    }
    QString reason;
    EXPECT_FALSE(port("70000")->start(&reason));
    EXPECT_FALSE(reason.isEmpty());
}
