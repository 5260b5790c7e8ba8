#include "doors/peeraddress.h"

#include <sys/socket.h>

QHostAddress plainAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

QString addressText(const QHostAddress& address)
{
    return plainAddress(address).toString();
}

QHostAddress peerAddressOf(qintptr descriptor)
{
    sockaddr_storage address = {};
    socklen_t length = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr*>(&address));
}
