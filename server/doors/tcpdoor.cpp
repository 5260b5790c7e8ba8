#include "doors/tcpdoor.h"

#include <QTcpSocket>

#include "doors/adoptsocket.h"
#include "doors/doorlistener.h"
#include "doors/serverequest.h"
#include "log/activitylog.h"

TcpDoor::TcpDoor(ActivityLog& log, LocalSettings local, RequestService& service,
                 Admission& admission, QObject* parent)
    : QObject(parent), m_log(log), m_local(std::move(local)), m_service(service),
      m_listener(new DoorListener(
          log, QStringLiteral("Socket"), admission, Door::Tcp,
          [this](qintptr descriptor, CapPlace place) {
              socket_ConnectionRequest(descriptor, std::move(place));
          },
          this))
{
}

TcpDoor::~TcpDoor() = default;

bool TcpDoor::start_listening(QString* reason)
{
    const std::optional<DoorListener::Listening> listening =
        m_listener->open(m_local.fields.sockport, m_local.bindAddress, reason);
    if (listening && !m_local.bindAddress.trimmed().isEmpty())
        m_log.log(QStringLiteral("Socket: Listening Address ") + listening->address.toString());
    return listening.has_value();
}

quint16 TcpDoor::listeningPort() const
{
    return m_listener->port();
}

void TcpDoor::socket_ConnectionRequest(qintptr descriptor, CapPlace place)
{
    QTcpSocket* client = adoptSocket<QTcpSocket>(descriptor, nullptr);
    if (!client) {
        socket_Error();
        return;
    }
    auto* connection =
        new ClientConnection(client, freeSlot(), std::move(place), kMaxRequestBytes, this);
    m_log.log(QStringLiteral("Socket: ConnectionRequest ip=[") + connection->peerAddress() +
              QStringLiteral("] port=[") + QString::number(connection->peerPort()) +
              QLatin1Char(']'));
    ++m_sockCount;
    m_slots.insert(connection->slot(), connection);
    connect(connection, &ClientConnection::received, this,
            [this, connection](const QByteArray& bytes) { socket_DataArrival(connection, bytes); });
    connect(connection, &ClientConnection::peerClosed, this,
            [this, connection] { socket_Close(connection); });
    connect(connection, &ClientConnection::socketFailed, this, &TcpDoor::socket_Error);
}

void TcpDoor::socket_DataArrival(ClientConnection* connection, const QByteArray& bytes)
{
    if (bytes.size() > kMaxRequestBytes) {
        m_log.log(QStringLiteral("Socket: DataArrival Request Too Large bytes=[more than ") +
                  QString::number(kMaxRequestBytes) + QStringLiteral("] ip=[") +
                  connection->peerAddress() + QStringLiteral("] connection closed"));
        // abort() may announce the close at once; either way it is handled exactly once.
        connection->abort();
        socket_Close(connection);
        return;
    }
    serveRequest(*this, m_service, *connection, bytes);
}

void TcpDoor::socket_Close(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    m_log.log(QStringLiteral("Socket: Close ") + connection->peerAddress());
    m_slots.remove(connection->slot());
    --m_sockCount;
    connection->close();
}

void TcpDoor::socket_Error()
{
    m_log.log(QStringLiteral("socket_error:"));
}

int TcpDoor::freeSlot() const
{
    int slot = 1;
    while (m_slots.contains(slot))
        ++slot;
    return slot;
}
