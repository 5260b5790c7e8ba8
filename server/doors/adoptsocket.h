#pragma once

#include <QAbstractSocket>

#include "doors/capplaceholder.h"

// Hands an accepted `descriptor` to `socket`. On failure the descriptor is closed (nothing else
// owns it) and false comes back.
bool takeDescriptor(QAbstractSocket& socket, qintptr descriptor);

// A new socket of type `Socket`, a child of `parent`, made from an accepted `descriptor`; null,
// with the descriptor closed, when the socket cannot take it.
template <typename Socket> Socket* adoptSocket(qintptr descriptor, QObject* parent)
{
    auto* socket = new Socket(parent);
    if (takeDescriptor(*socket, descriptor))
        return socket;
    delete socket;
    return nullptr;
}

// As above, with `place` under the cap held for as long as the socket lives; given back at once
// when the socket cannot be made.
template <typename Socket> Socket* adoptSocket(qintptr descriptor, CapPlace place, QObject* parent)
{
    Socket* socket = adoptSocket<Socket>(descriptor, parent);
    if (socket)
        holdPlace(std::move(place), *socket);
    return socket;
}
