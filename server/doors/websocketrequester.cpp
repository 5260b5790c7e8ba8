#include "doors/websocketrequester.h"

#include <QWebSocket>

#include "doors/peeraddress.h"

WebSocketRequester::WebSocketRequester(QWebSocket* socket, bool encrypted, QObject* parent)
    : Requester(parent), m_socket(socket), m_peerAddress(addressText(socket->peerAddress())),
      m_encrypted(encrypted)
{
    socket->setParent(this);
}

bool WebSocketRequester::isConnected() const
{
    return !m_gone && m_socket->state() == QAbstractSocket::ConnectedState;
}

void WebSocketRequester::send(const QByteArray& bytes)
{
    // Replies are printable ASCII, so the text message holds the reply's bytes unchanged.
    m_socket->sendTextMessage(QString::fromLatin1(bytes));
    m_socket->flush();
}

void WebSocketRequester::markGone()
{
    if (m_gone)
        return;
    m_gone = true;
    Q_EMIT gone();
}

void WebSocketRequester::hangUp()
{
    if (!m_gone)
        m_socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
}
