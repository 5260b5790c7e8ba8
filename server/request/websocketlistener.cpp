#include "request/websocketlistener.h"

#include <unistd.h>

#include <QSslSocket>

#include "log/activitylog.h"
#include "request/accesspolicy.h"
#include "request/connectionlimit.h"
#include "request/peeraddress.h"

WebSocketListener::WebSocketListener(const AccessPolicy& access, ConnectionLimit& limit,
                                     ActivityLog& log, QObject* parent)
    : QTcpServer(parent), m_access(access), m_limit(limit), m_log(log),
      m_refusals([&log](const QString& line) { log.log(line); }, this)
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
    if (!m_limit.admit()) {
        ::close(int(descriptor));
        m_refusals.refused(QStringLiteral("MaxConnections ") + QString::number(m_limit.max()) +
                           QStringLiteral(" reached"));
        return;
    }
    auto* socket = new QSslSocket(this);
    // However the connection ends (refused origin, failed handshake, closed WebSocket), its
    // socket goes, and with it its place under the cap.
    connect(socket, &QObject::destroyed, this, [this] { m_limit.release(); });
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
