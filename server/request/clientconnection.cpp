#include "request/clientconnection.h"

#include <QHostAddress>
#include <QTcpSocket>

#include "request/peeraddress.h"

ClientConnection::ClientConnection(QTcpSocket* socket, int slot, QObject* parent)
    : QObject(parent), m_socket(socket), m_slot(slot), m_peerIp(addressText(socket->peerAddress()))
{
    socket->setParent(this);
}
