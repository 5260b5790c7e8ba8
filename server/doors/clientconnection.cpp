#include "doors/clientconnection.h"

#include <QHostAddress>
#include <QSslSocket>

#include "doors/idlewatch.h"
#include "doors/peeraddress.h"

ClientConnection::ClientConnection(QTcpSocket* socket, int slot, CapPlace place,
                                   qint64 maxReceiptBytes, int idleSeconds, QObject* parent)
    : Requester(parent), m_socket(socket), m_slot(slot),
      m_peerIp(addressText(socket->peerAddress())),
      m_encrypted(qobject_cast<QSslSocket*>(socket) != nullptr), m_place(std::move(place)),
      m_idle(new IdleWatch(
          idleSeconds,
          [this](IdleWatch&) {
              if (!m_closed)
                  Q_EMIT idle();
          },
          this))
{
    socket->setParent(this);
    socket->setReadBufferSize(maxReceiptBytes + 1);
    connect(socket, &QTcpSocket::readyRead, this, &ClientConnection::readReceipt);
    connect(socket, &QTcpSocket::disconnected, this, &ClientConnection::peerClosed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error != QAbstractSocket::RemoteHostClosedError)
            Q_EMIT socketFailed();
    });
}

quint16 ClientConnection::peerPort() const
{
    return m_socket->peerPort();
}

bool ClientConnection::isConnected() const
{
    return !m_closed && m_socket->state() == QAbstractSocket::ConnectedState;
}

void ClientConnection::send(const QByteArray& bytes)
{
    m_idle->activity();
    m_socket->write(bytes);
    m_socket->flush();
}

void ClientConnection::keepAwake()
{
    m_idle->activity();
}

void ClientConnection::abort()
{
    m_socket->abort();
}

void ClientConnection::hangUp()
{
    if (m_closed)
        return;
    abort();
    // The door handles a close once, whether or not abort() announced it already.
    Q_EMIT peerClosed();
}

void ClientConnection::close()
{
    if (m_closed)
        return;
    m_closed = true;
    m_place.giveBack();
    Q_EMIT gone();
    // Nothing of the socket reaches anyone any more, whatever close() announces.
    m_socket->disconnect(this);
    disconnect();
    m_socket->close();
    deleteLater();
}

void ClientConnection::readReceipt()
{
    if (m_closed)
        return;
    const QByteArray bytes = m_socket->readAll();
    if (bytes.isEmpty())
        return;
    m_idle->activity();
    Q_EMIT received(bytes);
}
