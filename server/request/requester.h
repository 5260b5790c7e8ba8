#pragma once

#include <functional>

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
    // Whether what crosses the network is encrypted (TLS or wss), so that a key may be sent.
    virtual bool isEncrypted() const { return false; }

    // A request with a valid key came over the connection, or it was paired.
    void keyShown() { m_keyShown = true; }
    bool hasShownKey() const { return m_keyShown; }
    // Runs `close` after `seconds` unless a key has been shown by then: where every request
    // needs a key, a connection that brings none holds no place for long.
    void closeUnlessKeyShownWithin(int seconds, std::function<void()> close);

Q_SIGNALS:
    // The client went away; announced once.
    void gone();

private:
    bool m_keyShown = false;
};
