#pragma once

#include <QString>

#include "request/requester.h"

class QWebSocket;

// One browser till's WebSocket connection as the request service sees it: each reply goes out
// as one text message.
class WebSocketRequester final : public Requester
{
    Q_OBJECT

public:
    // Takes over `socket` as a child; `encrypted` when it came over wss.
    WebSocketRequester(QWebSocket* socket, bool encrypted, QObject* parent);

    QWebSocket& socket() const { return *m_socket; }
    QString peerAddress() const override { return m_peerAddress; }
    bool isConnected() const override;
    bool isEncrypted() const override { return m_encrypted; }
    void send(const QByteArray& bytes) override;
    // Sends the close frame; the door hears the end as for any other close.
    void hangUp() override;
    // Marks the connection ended and announces that the client has gone; once only.
    void markGone();

private:
    QWebSocket* m_socket;
    QString m_peerAddress;
    bool m_encrypted;
    bool m_gone = false;
};
