#include "request/clientconnection.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

QString dottedAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

ClientConnection::ClientConnection(QTcpSocket* socket, int slot, QObject* parent)
    : Requester(parent), m_socket(socket), m_slot(slot),
      m_peerIp(dottedAddress(socket->peerAddress()))
{
    socket->setParent(this);
}

bool ClientConnection::isConnected() const
{
    return !m_closed && m_socket->state() == QAbstractSocket::ConnectedState;
}

void ClientConnection::send(const QByteArray& bytes)
{
    m_socket->write(bytes);
    m_socket->flush();
}

void ClientConnection::markClosed()
{
    if (m_closed)
        return;
    m_closed = true;
    Q_EMIT gone();
}
