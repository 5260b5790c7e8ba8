#include "request/clientconnection.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "request/peeraddress.h"

ClientConnection::ClientConnection(QTcpSocket* socket, int slot, CapPlace place, QObject* parent)
    : Requester(parent), m_socket(socket), m_slot(slot),
      m_peerIp(addressText(socket->peerAddress())), m_place(std::move(place))
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
    m_place.giveBack();
    Q_EMIT gone();
}
