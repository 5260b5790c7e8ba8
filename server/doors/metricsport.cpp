#include "doors/metricsport.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include "doors/adoptsocket.h"
#include "doors/doorlistener.h"
#include "doors/httprequest.h"
#include "doors/listenport.h"
#include "log/activitylog.h"

MetricsPort::MetricsPort(ActivityLog& log, Admission& admission, Pages pages,
                         MetricsSettings settings, QString bindAddress, QObject* parent)
    : QObject(parent), m_log(log), m_pages(std::move(pages)), m_settings(std::move(settings)),
      m_bindAddress(std::move(bindAddress)),
      m_listener(new DoorListener(
          log, QStringLiteral("Metrics"), admission, Door::Metrics,
          [this](qintptr descriptor, CapPlace place) { admit(descriptor, std::move(place)); },
          this))
{
}

bool MetricsPort::start(QString* reason)
{
    if (isLeftClosed(m_settings.port))
        return true;
    return m_listener->open(m_settings.port, m_bindAddress, reason).has_value();
}

quint16 MetricsPort::listeningPort() const
{
    return m_listener->port();
}

void MetricsPort::admit(qintptr descriptor, CapPlace place)
{
    if (auto* socket = adoptSocket<QTcpSocket>(descriptor, std::move(place), this))
        serve(socket);
}

void MetricsPort::serve(QTcpSocket* socket)
{
    // One byte past the limit tells an oversized request; the socket buffers no more.
    socket->setReadBufferSize(kMaxRequestBytes + 1);
    auto* limit = new QTimer(socket);
    limit->setSingleShot(true);
    // A coarse timer may fire up to 5% early; a client is given its whole 10 seconds.
    limit->setTimerType(Qt::PreciseTimer);
    // A client that is too slow is closed without an answer.
    connect(limit, &QTimer::timeout, socket, [socket] { socket->abort(); });
    limit->start(kRequestTimeoutMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, limit] {
        if (!limit->isActive())
            return;
        const QByteArray seen = socket->peek(kMaxRequestBytes + 1);
        const qsizetype length = httpHeadLength(seen);
        if (length > kMaxRequestBytes || (length < 0 && seen.size() > kMaxRequestBytes)) {
            limit->stop();
            socket->abort();
            return;
        }
        if (length < 0)
            return;
        limit->stop();
        answer(socket, seen.left(length));
    });
}

void MetricsPort::answer(QTcpSocket* socket, const QByteArray& head)
{
    const HttpRequestHead request = readHttpRequestHead(head);
    HttpResponse response;
    if (request.error == 505)
        response = {505, "text/plain", "Only HTTP/1.x.\n", {}};
    else if (request.error != 0)
        response = {400, "text/plain", "Bad request.\n", {}};
    else
        response = page(request.method, request.path);
    response.headers += "Cache-Control: no-store\r\n";
    // Whatever else the client sends is not read.
    socket->readAll();
    socket->write(httpResponseBytes(response, request.method != "HEAD"));
    socket->disconnectFromHost();
}

HttpResponse MetricsPort::page(const QByteArray& method, const QByteArray& path) const
{
    if (path != "/metrics" && path != "/health")
        return {404, "text/plain", "Not found.\n", {}};
    if (method != "GET" && method != "HEAD")
        return {405, "text/plain", "Only GET and HEAD.\n", "Allow: GET, HEAD\r\n"};
    return path == "/metrics" ? m_pages.metrics() : m_pages.health();
}
