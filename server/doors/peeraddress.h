#pragma once

#include <QHostAddress>
#include <QString>

// The address a peer connected from; an IPv4 client of the dual-stack listener arrives as an
// IPv4-mapped IPv6 address and is returned as the plain IPv4 address.
QHostAddress plainAddress(const QHostAddress& address);

// The address as the log shows it: dotted form for IPv4 peers.
QString addressText(const QHostAddress& address);

// The peer address of an accepted socket descriptor, read without touching its data; null when
// the peer has already gone.
QHostAddress peerAddressOf(qintptr descriptor);
