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
    : QObject(parent), m_socket(socket), m_slot(slot),
      m_peerIp(dottedAddress(socket->peerAddress()))
{
    socket->setParent(this);
}
