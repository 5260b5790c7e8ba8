#include "request/websocketlistener.h"

#include <unistd.h>

#include <QSslSocket>

#include "log/activitylog.h"
#include "request/accesspolicy.h"
#include "request/peeraddress.h"

WebSocketListener::WebSocketListener(const AccessPolicy& access, ActivityLog& log, QObject* parent)
    : QTcpServer(parent), m_access(access), m_log(log)
{
}

void WebSocketListener::incomingConnection(qintptr descriptor)
{
    const QHostAddress peer = peerAddressOf(descriptor);
    if (!m_access.allows(peer)) {
        m_log.log(QStringLiteral("Socket: Refused ") + addressText(peer));
        ::close(int(descriptor));
        return;
    }
    auto* socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        ::close(int(descriptor));
        delete socket;
        return;
    }
    if (m_tls) {
        socket->setSslConfiguration(*m_tls);
        socket->startServerEncryption();
    }
    Q_EMIT admitted(socket);
}
