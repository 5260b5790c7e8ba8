// A real Prometheus server, started on loopback with its own storage, scrapes the metrics port
// every second; its query API returns what the port served.
#include "prometheusprocess.h"

TEST_F(MetricsPortTest, ARealPrometheusScrapesTheDeviceStateAndTheRequestCount)
{
    open();
    m_pad = {true, true, false};
    for (int i = 0; i < 3; ++i)
        m_telemetry.requestReceived(QStringLiteral("VERSION"));

    PrometheusProcess prometheus;
    ASSERT_TRUE(prometheus.start(port()));
    EXPECT_EQ(prometheus.await(QStringLiteral("varnel_device_up{device=\"pad\"}"), 1), 1);
    EXPECT_EQ(prometheus.await(QStringLiteral("varnel_requests_total{trans=\"VERSION\"}"), 3), 3);
    // The scrape's own view of the target.
    EXPECT_EQ(prometheus.query(QStringLiteral("up{job=\"box\"}")), 1);

    // The pad's box unticked: the next scrapes see it down.
    m_pad.ticked = false;
    EXPECT_EQ(prometheus.await(QStringLiteral("varnel_device_up{device=\"pad\"}"), 0, 20), 0);
    if (HasFailure())
        std::fprintf(stderr, "%s\n", prometheus.output().constData());
}
