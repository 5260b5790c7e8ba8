#pragma once

#include <QObject>

#include "doors/connectionlimit.h"

// A connection's place under the cap, held for as long as the socket it is a child of lives.
// A child rather than a connection to the socket's destroyed signal: a WebSocket that takes
// the socket over may drop every connection of the socket's.
class CapPlaceHolder final : public QObject
{
public:
    CapPlaceHolder(CapPlace place, QObject* socket) : QObject(socket), m_place(std::move(place)) {}

private:
    CapPlace m_place;
};

// Keeps `place` for as long as `socket` lives.
inline void holdPlace(CapPlace place, QObject& socket)
{
    new CapPlaceHolder(std::move(place), &socket);
}
