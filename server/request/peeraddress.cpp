#include "request/peeraddress.h"

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
