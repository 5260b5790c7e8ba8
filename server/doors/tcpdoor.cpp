#include "doors/tcpdoor.h"

#include <memory>

#include <QSslSocket>
#include <QTcpSocket>

#include "doors/admission.h"
#include "doors/adoptsocket.h"
#include "doors/doorlistener.h"
#include "doors/listenport.h"
#include "doors/peeraddress.h"
#include "doors/serverequest.h"
#include "doors/tlshandshake.h"
#include "doors/tlsidentity.h"
#include "log/activitylog.h"
#include "request/requestservice.h"

TcpDoor::TcpDoor(ActivityLog& log, LocalSettings local, RequestService& service,
                 Admission& admission, QObject* parent)
    : TcpDoor(log, std::move(local), std::nullopt, service, admission, parent)
{
}

TcpDoor::TcpDoor(ActivityLog& log, LocalSettings local, TlsSettings tls, RequestService& service,
                 Admission& admission, QObject* parent)
    : TcpDoor(log, std::move(local), std::optional<TlsSettings>(std::move(tls)), service, admission,
              parent)
{
}

TcpDoor::TcpDoor(ActivityLog& log, LocalSettings local, std::optional<TlsSettings> tls,
                 RequestService& service, Admission& admission, QObject* parent)
    : QObject(parent), m_log(log), m_local(std::move(local)), m_tlsSettings(std::move(tls)),
      m_door(m_tlsSettings ? Door::Tls : Door::Tcp), m_logName(doorLogName(m_door)),
      m_service(service), m_admission(admission),
      m_listener(new DoorListener(
          log, m_logName, admission, m_door,
          [this](qintptr descriptor, CapPlace place) {
              socket_ConnectionRequest(descriptor, std::move(place));
          },
          this))
{
}

TcpDoor::~TcpDoor() = default;

bool TcpDoor::start_listening(QString* reason)
{
    if (m_tlsSettings)
        return startTls(reason);
    const std::optional<DoorListener::Listening> listening =
        m_listener->open(m_local.fields.sockport, m_local.bindAddress, reason);
    if (listening && !m_local.bindAddress.trimmed().isEmpty())
        m_log.log(QStringLiteral("Socket: Listening Address ") + listening->address.toString());
    return listening.has_value();
}

bool TcpDoor::startTls(QString* reason)
{
    if (isLeftClosed(m_tlsSettings->port))
        return true;
    const QString portSetting = m_tlsSettings->port.trimmed();
    const QString certFile = m_tlsSettings->certFile.trimmed();
    const QString keyFile = m_tlsSettings->keyFile.trimmed();
    QString why;
    // The port and the address are checked before the certificate, as for the WebSocket port.
    if (parseListenPort(portSetting, &why) && parseBindAddress(m_local.bindAddress, &why)) {
        if (certFile.isEmpty() || keyFile.isEmpty())
            why = QStringLiteral("the TLS port needs [WebSocket] CertFile and KeyFile");
        else if (const std::optional<QSslConfiguration> identity =
                     loadTlsIdentity(certFile, keyFile, &why))
            m_tls = serverTlsConfiguration(*identity);
    }
    if (!m_tls) {
        m_listener->refuse(portSetting, why, reason);
        return false;
    }
    if (!m_listener->open(portSetting, m_local.bindAddress, reason)) {
        m_tls.reset();
        return false;
    }
    return true;
}

quint16 TcpDoor::listeningPort() const
{
    return m_listener->port();
}

void TcpDoor::socket_ConnectionRequest(qintptr descriptor, CapPlace place)
{
    if (!m_tls) {
        QTcpSocket* client = adoptSocket<QTcpSocket>(descriptor, nullptr);
        if (!client) {
            socket_Error();
            return;
        }
        takeClient(client, std::move(place));
        return;
    }
    // Until its handshake is done the socket is its own; its place under the cap goes with it
    // however the handshake ends.
    auto* client = adoptSocket<QSslSocket>(descriptor, this);
    if (!client) {
        socket_Error();
        return;
    }
    auto held = std::make_shared<CapPlace>(std::move(place));
    startServerHandshake(
        *client, *m_tls,
        [this, client, held] {
            client->setParent(nullptr);
            takeClient(client, std::move(*held));
        },
        [this, client](const QString& why) {
            m_admission.handshakeFailed(Door::Tls, addressText(client->peerAddress()), why);
        });
}

void TcpDoor::takeClient(QTcpSocket* client, CapPlace place)
{
    auto* connection = new ClientConnection(client, freeSlot(), std::move(place), kMaxRequestBytes,
                                            m_local.idleSeconds, this);
    m_log.log(m_logName + QStringLiteral(": ConnectionRequest ip=[") + connection->peerAddress() +
              QStringLiteral("] port=[") + QString::number(connection->peerPort()) +
              QLatin1Char(']'));
    ++m_sockCount;
    m_slots.insert(connection->slot(), connection);
    connect(connection, &ClientConnection::received, this,
            [this, connection](const QByteArray& bytes) { socket_DataArrival(connection, bytes); });
    connect(connection, &ClientConnection::peerClosed, this,
            [this, connection] { socket_Close(connection); });
    connect(connection, &ClientConnection::socketFailed, this, &TcpDoor::socket_Error);
    connect(connection, &ClientConnection::idle, this,
            [this, connection] { closeIdle(connection); });
    if (const int seconds = m_service.keyDeadlineSeconds())
        connection->closeUnlessKeyShownWithin(seconds,
                                              [this, connection] { closeKeyless(connection); });
}

void TcpDoor::socket_DataArrival(ClientConnection* connection, const QByteArray& bytes)
{
    if (bytes.size() > kMaxRequestBytes) {
        m_log.log(m_logName + QStringLiteral(": DataArrival Request Too Large bytes=[more than ") +
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
    m_log.log(m_logName + QStringLiteral(": Close ") + connection->peerAddress());
    m_slots.remove(connection->slot());
    --m_sockCount;
    connection->close();
}

void TcpDoor::closeIdle(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    // A till that waits for its customer is not idle, however long the wait.
    if (m_service.isAnswering(connection)) {
        connection->keepAwake();
        return;
    }
    m_admission.closedIdle(m_door, connection->peerAddress(), m_local.idleSeconds);
    m_slots.remove(connection->slot());
    --m_sockCount;
    connection->close();
}

void TcpDoor::closeKeyless(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    m_admission.closedWithoutKey(m_door, connection->peerAddress(), m_service.keyDeadlineSeconds());
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
