#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>

#include "doors/connectionlimit.h"
#include "doors/httpresponse.h"
#include "settings/settings.h"

class ActivityLog;
class Admission;
class DoorListener;
class QTcpSocket;

// The metrics port: answers GET (and HEAD) /metrics and /health for the tools that watch a
// fleet of boxes, one request per connection. The address allow-list of the request doors
// applies, and a small cap of its own, outside the tills' cap, so that connections to it never
// take a till's place; a request head larger than 8 KiB, or not complete within 10 seconds, is
// closed unanswered.
class MetricsPort : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 kMaxRequestBytes = 8 * 1024;
    static constexpr int kRequestTimeoutMs = 10000;
    // The metrics port's own cap on open connections: scrapers need one or two.
    static constexpr int kMaxConnections = 8;

    // What the port serves, made at the moment of each request.
    struct Pages
    {
        std::function<HttpResponse()> metrics;
        std::function<HttpResponse()> health;
    };

    // Opens as `settings` say, on `bindAddress` (`[Local] bindAddress`); who comes in is
    // `admission`'s to say: the request doors' allow-list with a cap of kMaxConnections.
    MetricsPort(ActivityLog& log, Admission& admission, Pages pages, MetricsSettings settings,
                QString bindAddress, QObject* parent = nullptr);

    // Opens the port that the `[Metrics] Port` text names. Empty or 0: stays closed and returns
    // true. Returns false, with the reason (also logged), when the text is no port or the port
    // cannot be opened.
    bool start(QString* reason = nullptr);
    // The port listened on, 0 when closed.
    quint16 listeningPort() const;

private:
    void admit(qintptr descriptor, CapPlace place);
    void serve(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const QByteArray& head);
    // The answer to a sound request for `path`.
    HttpResponse page(const QByteArray& method, const QByteArray& path) const;

    ActivityLog& m_log;
    Pages m_pages;
    MetricsSettings m_settings;
    QString m_bindAddress;
    DoorListener* m_listener;
};
