#pragma once

#include <QString>

#include "request/connectionlimit.h"
#include "request/requester.h"

class QTcpSocket;

// One client's TCP connection: its socket, the slot it occupies and the peer's address. The
// request server is its Qt parent; a closed connection goes with deleteLater(), since a
// socket call (abort, close, a write to a closed peer) announces the close while the caller
// still holds the connection.
class ClientConnection final : public Requester
{
    Q_OBJECT

public:
    // Takes over `socket` as a child, and `place` under the connection cap until it is closed.
    ClientConnection(QTcpSocket* socket, int slot, CapPlace place, QObject* parent);

    QTcpSocket& socket() const { return *m_socket; }
    int slot() const { return m_slot; }
    // The peer's address in dotted form, also for IPv4 clients of the dual-stack listener.
    QString peerAddress() const override { return m_peerIp; }
    bool isConnected() const override;
    // Writes at once; a peer that has gone may announce the close inside this call.
    void send(const QByteArray& bytes) override;
    // Set once the close has been handled: the connection takes no more requests or replies.
    bool isClosed() const { return m_closed; }
    // Marks the close handled, gives the connection's place under the cap back and announces
    // that the client has gone.
    void markClosed();

private:
    QTcpSocket* m_socket;
    int m_slot;
    QString m_peerIp;
    CapPlace m_place;
    bool m_closed = false;
};
