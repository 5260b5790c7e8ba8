#include "request/requestserver.h"

#include <unistd.h>

#include <memory>

#include <QTcpSocket>

#include "log/activitylog.h"
#include "request/doorlistener.h"
#include "request/serverequest.h"

RequestServer::RequestServer(ActivityLog& log, LocalSettings local, RequestService& service,
                             Admission& admission, QObject* parent)
    : QObject(parent), m_log(log), m_local(std::move(local)), m_service(service),
      m_listener(new DoorListener(
          admission, Door::Tcp,
          [this](qintptr descriptor, CapPlace place) {
              socket_ConnectionRequest(descriptor, std::move(place));
          },
          this))
{
}

RequestServer::~RequestServer() = default;

bool RequestServer::start_listening(QString* reason)
{
    QString why;
    const std::optional<DoorListener::Listening> listening =
        m_listener->listen(m_local.fields.sockport, m_local.bindAddress, &why);
    if (!listening) {
        m_log.log(QStringLiteral("Socket: Listening Error port=[") + m_local.fields.sockport +
                  QStringLiteral("] ") + why);
        if (reason)
            *reason = why;
        return false;
    }
    m_log.log(QStringLiteral("Socket: Listening Port ") + QString::number(listening->port));
    if (!m_local.bindAddress.trimmed().isEmpty())
        m_log.log(QStringLiteral("Socket: Listening Address ") + listening->address.toString());
    return true;
}

quint16 RequestServer::listeningPort() const
{
    return m_listener->port();
}

void RequestServer::socket_ConnectionRequest(qintptr descriptor, CapPlace place)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        socket_Error();
        return;
    }
    auto* connection = new ClientConnection(socket.get(), freeSlot(), std::move(place), this);
    QTcpSocket* client = socket.release();
    m_log.log(QStringLiteral("Socket: ConnectionRequest ip=[") + connection->peerAddress() +
              QStringLiteral("] port=[") + QString::number(client->peerPort()) + QLatin1Char(']'));
    ++m_sockCount;
    m_slots.insert(connection->slot(), connection);

    // One byte beyond the limit is enough to tell an oversized receipt; the socket buffers
    // no more than that, whatever a client sends.
    client->setReadBufferSize(kMaxRequestBytes + 1);
    connect(client, &QTcpSocket::readyRead, connection,
            [this, connection] { socket_DataArrival(connection); });
    connect(client, &QTcpSocket::disconnected, connection,
            [this, connection] { socket_Close(connection); });
    connect(client, &QTcpSocket::errorOccurred, connection,
            [this](QAbstractSocket::SocketError error) {
                if (error != QAbstractSocket::RemoteHostClosedError)
                    socket_Error();
            });
}

void RequestServer::socket_DataArrival(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    const QByteArray bytes = connection->socket().readAll();
    if (bytes.isEmpty())
        return;
    if (bytes.size() > kMaxRequestBytes) {
        m_log.log(QStringLiteral("Socket: DataArrival Request Too Large bytes=[more than ") +
                  QString::number(kMaxRequestBytes) + QStringLiteral("] ip=[") +
                  connection->peerAddress() + QStringLiteral("] connection closed"));
        // abort() may announce the close at once; either way it is handled exactly once.
        connection->socket().abort();
        socket_Close(connection);
        return;
    }
    serveRequest(*this, m_service, *connection, bytes);
}

void RequestServer::socket_Close(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    connection->markClosed();
    m_log.log(QStringLiteral("Socket: Close ") + connection->peerAddress());
    m_slots.remove(connection->slot());
    --m_sockCount;
    // Nothing of the socket reaches this server any more, whatever close() announces.
    connection->socket().disconnect(this);
    connection->socket().disconnect(connection);
    connection->socket().close();
    connection->deleteLater();
}

void RequestServer::socket_Error()
{
    m_log.log(QStringLiteral("socket_error:"));
}

int RequestServer::freeSlot() const
{
    int slot = 1;
    while (m_slots.contains(slot))
        ++slot;
    return slot;
}
