#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

// One client that sends requests and takes their replies, whatever carries them. The request
// service serves any requester; the door that accepted the client owns it.
class Requester : public QObject
{
    Q_OBJECT

public:
    // The largest request a door takes: a larger receipt or message closes its connection.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

    using QObject::QObject;

    // The client's address in dotted form, for the log.
    virtual QString peerAddress() const = 0;
    // False once the client has gone: no reply can reach it any more.
    virtual bool isConnected() const = 0;
    // Sends a reply's bytes unchanged.
    virtual void send(const QByteArray& bytes) = 0;
    // Closes the connection from this end, as when the till it serves is revoked; gone() may
    // come inside this call.
    virtual void hangUp() = 0;

Q_SIGNALS:
    // The client went away; announced once.
    void gone();
};
