#include "metrics/metricsport.h"

#include <unistd.h>

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include "log/activitylog.h"
#include "request/capplaceholder.h"
#include "request/doorlistener.h"

namespace {

QByteArray response(int status, const QByteArray& reason, const QByteArray& type,
                    const QByteArray& body, const QByteArray& extraHeaders = {})
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n" + extraHeaders +
           "Cache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

MetricsPort::MetricsPort(ActivityLog& log, Admission& admission, Pages pages,
                         MetricsSettings settings, QString bindAddress, QObject* parent)
    : QObject(parent), m_log(log), m_pages(std::move(pages)), m_settings(std::move(settings)),
      m_bindAddress(std::move(bindAddress)),
      m_listener(new DoorListener(
          admission, Door::Metrics,
          [this](qintptr descriptor, CapPlace place) { admit(descriptor, std::move(place)); },
          this))
{
}

bool MetricsPort::start(QString* reason)
{
    const QString& portField = m_settings.port;
    const QString trimmed = portField.trimmed();
    if (trimmed.isEmpty() || trimmed == QLatin1String("0"))
        return true;
    QString why;
    const std::optional<DoorListener::Listening> listening =
        m_listener->listen(trimmed, m_bindAddress, &why);
    if (!listening) {
        m_log.log(QStringLiteral("Metrics: Listening Error port=[") + portField +
                  QStringLiteral("] ") + why);
        if (reason)
            *reason = why;
        return false;
    }
    m_log.log(QStringLiteral("Metrics: Listening Port ") + QString::number(listening->port));
    return true;
}

quint16 MetricsPort::listeningPort() const
{
    return m_listener->port();
}

void MetricsPort::admit(qintptr descriptor, CapPlace place)
{
    auto* socket = new QTcpSocket(this);
    new CapPlaceHolder(std::move(place), socket);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
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
        const qsizetype end = seen.indexOf("\r\n\r\n");
        if (end < 0 && seen.size() > kMaxRequestBytes) {
            limit->stop();
            socket->abort();
            return;
        }
        if (end < 0)
            return;
        limit->stop();
        answer(socket, seen.left(end));
    });
}

void MetricsPort::answer(QTcpSocket* socket, const QByteArray& head)
{
    const QList<QByteArray> words = head.left(head.indexOf("\r\n")).split(' ');
    const QByteArray method = words.value(0);
    QByteArray path = words.value(1);
    if (const qsizetype query = path.indexOf('?'); query >= 0)
        path.truncate(query);
    QByteArray reply;
    if (path != "/metrics" && path != "/health") {
        reply = response(404, "Not Found", "text/plain", "Not found.\n");
    } else if (method != "GET") {
        reply = response(405, "Method Not Allowed", "text/plain", "Only GET.\n", "Allow: GET\r\n");
    } else if (path == "/metrics") {
        reply = response(200, "OK", "text/plain; version=0.0.4; charset=utf-8", m_pages.metrics());
    } else {
        const HealthAnswer health = m_pages.health();
        reply = response(health.httpStatus, health.httpStatus == 200 ? "OK" : "Service Unavailable",
                         "application/health+json", health.json);
    }
    // Whatever else the client sends is not read.
    socket->readAll();
    socket->write(reply);
    socket->disconnectFromHost();
}
