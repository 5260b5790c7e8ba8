#pragma once

#include <QByteArray>
#include <QString>

#include "doors/connectionlimit.h"
#include "request/requester.h"

class IdleWatch;
class QTcpSocket;

// One client's TCP connection: its socket, which it reads itself, the slot it occupies and the
// peer's address. The TCP door is its Qt parent; a closed connection goes with deleteLater(),
// since a socket call (abort, close, a write to a closed peer) announces the close while the
// caller still holds the connection.
class ClientConnection final : public Requester
{
    Q_OBJECT

public:
    // Takes over `socket` as a child, and `place` under the connection cap until it is closed.
    // Reading stops one byte past `maxReceiptBytes`, enough to tell an oversized receipt: the
    // socket buffers no more than that, whatever a client sends. After `idleSeconds` with
    // nothing received and nothing sent, idle() is announced.
    ClientConnection(QTcpSocket* socket, int slot, CapPlace place, qint64 maxReceiptBytes,
                     int idleSeconds, QObject* parent);

    int slot() const { return m_slot; }
    quint16 peerPort() const;
    // The peer's address in dotted form, also for IPv4 clients of the dual-stack listener.
    QString peerAddress() const override { return m_peerIp; }
    bool isConnected() const override;
    // True on the TLS door, whose sockets are encrypted.
    bool isEncrypted() const override { return m_encrypted; }
    // Writes at once; a peer that has gone may announce the close inside this call.
    void send(const QByteArray& bytes) override;
    // Aborts the socket, and has the door handle the close at once.
    void hangUp() override;
    // Set once the close has been handled: the connection takes no more requests or replies.
    bool isClosed() const { return m_closed; }
    // The connection is in use all the same (its client waits for a reply): the idle time
    // starts again.
    void keepAwake();
    // Drops the connection at once; peerClosed() may come inside this call.
    void abort();
    // Marks the close handled, gives the connection's place under the cap back, announces that
    // the client has gone, closes the socket and deletes the connection later. Nothing of the
    // socket is announced from then on.
    void close();

Q_SIGNALS:
    // Bytes that arrived together: one receipt, the door's to serve.
    void received(const QByteArray& bytes);
    void peerClosed();
    // The client has sent nothing, and been sent nothing, for the idle time.
    void idle();
    // The socket failed other than by the peer closing it.
    void socketFailed();

private:
    void readReceipt();

    QTcpSocket* m_socket;
    int m_slot;
    QString m_peerIp;
    bool m_encrypted;
    CapPlace m_place;
    IdleWatch* m_idle;
    bool m_closed = false;
};
