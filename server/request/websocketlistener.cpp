#include "request/websocketlistener.h"

#include <unistd.h>

#include <QSslSocket>

#include "log/activitylog.h"
#include "request/accesspolicy.h"
#include "request/connectionlimit.h"
#include "request/peeraddress.h"

namespace {

// One place under the connection cap, held for as long as the socket it is a child of lives.
// A child rather than a connection to the socket's destroyed signal: the WebSocket that takes
// the socket over may drop every connection of the socket's.
class CapPlace final : public QObject
{
public:
    CapPlace(ConnectionLimit& limit, QObject* socket) : QObject(socket), m_limit(limit) {}
    ~CapPlace() override { m_limit.release(); }

private:
    ConnectionLimit& m_limit;
};

} // namespace

WebSocketListener::WebSocketListener(const AccessPolicy& access, ConnectionLimit& limit,
                                     ActivityLog& log, QObject* parent, Telemetry& telemetry)
    : QTcpServer(parent), m_access(access), m_limit(limit), m_log(log), m_telemetry(telemetry),
      m_refusals([&log](const QString& line) { log.log(line); }, this)
{
}

void WebSocketListener::incomingConnection(qintptr descriptor)
{
    const QHostAddress peer = peerAddressOf(descriptor);
    if (!m_access.allows(peer)) {
        m_log.log(QStringLiteral("Socket: Refused ") + addressText(peer));
        ::close(int(descriptor));
        m_telemetry.connectionRefused(RefusalReason::AllowList);
        return;
    }
    if (!m_limit.admit()) {
        ::close(int(descriptor));
        m_telemetry.connectionRefused(RefusalReason::Cap);
        m_refusals.refused(QStringLiteral("MaxConnections ") + QString::number(m_limit.max()) +
                           QStringLiteral(" reached"));
        return;
    }
    auto* socket = new QSslSocket(this);
    // However the connection ends (refused origin, failed handshake, closed WebSocket), its
    // socket goes, and with it its place under the cap.
    new CapPlace(m_limit, socket);
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
