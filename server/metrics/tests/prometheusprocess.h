#pragma once

// A real Prometheus server for the tests: on a free loopback port, with its own temporary
// storage, scraping one target every second; its query API read through the event loop, so
// that a target in the test's own process answers meanwhile.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include "metricsfixture.h"

class PrometheusProcess
{
public:
    ~PrometheusProcess()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    // Starts it scraping 127.0.0.1:`target` as job "box".
    bool start(quint16 target)
    {
        QFile config(m_storage.filePath(QStringLiteral("prometheus.yml")));
        if (!config.open(QIODevice::WriteOnly))
            return false;
        config.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                     "scrape_configs:\n  - job_name: box\n    static_configs:\n"
                     "      - targets: ['127.0.0.1:" +
                     QByteArray::number(target) + "']\n");
        config.close();
        m_port = ServerProcess::freePort();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(
            QStringLiteral("prometheus"),
            {QStringLiteral("--config.file=") + config.fileName(),
             QStringLiteral("--storage.tsdb.path=") + m_storage.filePath(QStringLiteral("data")),
             QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_port)});
        return m_process.waitForStarted(5000);
    }

    // The value of the first series of the query's answer; NaN while there is none.
    double query(const QString& expression)
    {
        const HttpExchange answer =
            exchange(m_port,
                     {"GET /api/v1/query?query=" + QUrl::toPercentEncoding(expression) +
                      " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"},
                     3000);
        // The body may come in chunks: the JSON runs from the first '{' to the last '}'.
        const QByteArray body = answer.body();
        const qsizetype first = body.indexOf('{');
        const QByteArray json = body.mid(first, body.lastIndexOf('}') - first + 1);
        const QJsonArray result = QJsonDocument::fromJson(json)
                                      .object()
                                      .value(QStringLiteral("data"))
                                      .toObject()
                                      .value(QStringLiteral("result"))
                                      .toArray();
        if (result.isEmpty())
            return qQNaN();
        return result.at(0)
            .toObject()
            .value(QStringLiteral("value"))
            .toArray()
            .at(1)
            .toString()
            .toDouble();
    }

    // Asks `expression` every half second, the event loop running between, until it equals
    // `expected` or `attempts` are used; returns the last value.
    double await(const QString& expression, double expected, int attempts = 120)
    {
        double value = qQNaN();
        for (int i = 0; i < attempts && value != expected; ++i) {
            QEventLoop loop;
            QTimer::singleShot(500, &loop, &QEventLoop::quit);
            loop.exec();
            value = query(expression);
        }
        return value;
    }

    // What it printed, for a failed test.
    QByteArray output() { return m_process.readAll(); }

private:
    QTemporaryDir m_storage;
    QProcess m_process;
    quint16 m_port = 0;
};
