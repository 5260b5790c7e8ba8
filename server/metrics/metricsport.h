#pragma once

#include <functional>

#include <QByteArray>
#include <QTcpServer>

#include "core/telemetry.h"
#include "metrics/healthanswer.h"
#include "request/refusallog.h"

class AccessPolicy;
class ActivityLog;
class ConnectionLimit;
class QHostAddress;
class QTcpSocket;

// The metrics port: answers GET /metrics (the Prometheus text) and GET /health for the tools
// that watch a fleet of boxes, one request per connection. The address allow-list and the
// connection cap of the request doors apply; a request larger than 8 KiB, or not complete
// within 10 seconds, is closed unanswered.
class MetricsPort : public QTcpServer
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxRequestBytes = 8 * 1024;
    static constexpr int kRequestTimeoutMs = 10000;

    // What the port serves, made at the moment of each request.
    struct Pages
    {
        std::function<QByteArray()> metrics;
        std::function<HealthAnswer()> health;
    };

    MetricsPort(ActivityLog& log, const AccessPolicy& access, ConnectionLimit& limit, Pages pages,
                QObject* parent = nullptr, Telemetry& telemetry = Telemetry::none());

    // Opens the port that the `[Metrics] Port` text names, on `address`. Empty or 0: stays
    // closed and returns true. Returns false, with the reason (also logged), when the text is
    // no port or the port cannot be opened.
    bool start(const QString& portField, const QHostAddress& address, QString* reason = nullptr);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& head);

    ActivityLog& m_log;
    const AccessPolicy& m_access;
    ConnectionLimit& m_limit;
    Pages m_pages;
    Telemetry& m_telemetry;
    RefusalLog m_refusals;
};
