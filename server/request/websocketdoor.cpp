#include "request/websocketdoor.h"

#include <QPointer>
#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "request/listenport.h"
#include "request/peeraddress.h"
#include "request/requestservice.h"
#include "request/tlsidentity.h"
#include "request/websocketlistener.h"
#include "request/websocketrequester.h"

namespace {

// The longest handshake head read while waiting for its end.
constexpr qint64 kMaxHandshakeBytes = 16 * 1024;

} // namespace

WebSocketDoor::WebSocketDoor(ActivityLog& log, const LiveSettings& settings,
                             const AccessPolicy& access, ConnectionLimit& limit,
                             RequestService& service, QObject* parent, Telemetry& telemetry)
    : QObject(parent), m_log(log), m_settings(settings), m_service(service), m_telemetry(telemetry),
      m_listener(new WebSocketListener(access, limit, log, this, telemetry)),
      m_upgrader(new QWebSocketServer(QStringLiteral("Varnel Payment Server"),
                                      QWebSocketServer::NonSecureMode, this))
{
    connect(m_listener, &WebSocketListener::admitted, this, &WebSocketDoor::screenHandshake);
    connect(m_upgrader, &QWebSocketServer::newConnection, this, &WebSocketDoor::takeConnection);
}

WebSocketDoor::~WebSocketDoor() = default;

bool WebSocketDoor::start(QString* reason)
{
    const QString portSetting = m_settings.webSocketPort().trimmed();
    if (portSetting.isEmpty() || portSetting == QLatin1String("0"))
        return true;

    QString why;
    std::optional<quint16> port = parseListenPort(portSetting, &why);
    std::optional<QHostAddress> address =
        port ? parseBindAddress(m_settings.bindAddress(), &why) : std::nullopt;
    const QString certFile = m_settings.webSocketCertFile().trimmed();
    const QString keyFile = m_settings.webSocketKeyFile().trimmed();
    if (address && (!certFile.isEmpty() || !keyFile.isEmpty())) {
        if (certFile.isEmpty() || keyFile.isEmpty()) {
            why = QStringLiteral("CertFile and KeyFile must both be set for TLS");
            address.reset();
        } else if (std::optional<QSslConfiguration> tls =
                       loadTlsIdentity(certFile, keyFile, &why)) {
            m_listener->setTls(std::move(tls));
        } else {
            address.reset();
        }
    }
    if (address && !m_listener->listen(*address, *port))
        why = m_listener->errorString();
    if (!address || !m_listener->isListening()) {
        m_log.log(QStringLiteral("WebSocket: Listening Error port=[") + portSetting +
                  QStringLiteral("] ") + why);
        if (reason)
            *reason = why;
        return false;
    }
    m_origins = OriginList(m_settings.webSocketOrigins());
    m_log.log(QStringLiteral("WebSocket: Listening Port ") + QString::number(*port) +
              (isSecure() ? QStringLiteral(" (wss)") : QStringLiteral(" (ws)")));
    return true;
}

quint16 WebSocketDoor::listeningPort() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

bool WebSocketDoor::isSecure() const
{
    return m_listener->isSecure();
}

// The handshake is read here first, without consuming it, so that a page from an origin not
// listed gets a plain 403 and the log names it with its address; the WebSocket upgrade proper
// is Qt's.
void WebSocketDoor::screenHandshake(QTcpSocket* socket)
{
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [socket] { socket->abort(); });
    deadline->start(kHandshakeTimeoutMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, socket, [socket] { socket->abort(); });

    auto check = [this, socket, deadline] {
        const QByteArray head = socket->peek(kMaxHandshakeBytes + 1);
        const std::optional<QString> origin = handshakeOrigin(head);
        if (!origin) {
            if (head.size() > kMaxHandshakeBytes)
                socket->abort();
            return;
        }
        socket->disconnect(this);
        delete deadline;
        if (!m_origins.allows(*origin)) {
            refuseOrigin(socket, *origin);
            return;
        }
        // From here the upgrade owns the socket and its ending.
        QObject::disconnect(socket, nullptr, socket, nullptr);
        m_upgrading.append(socket);
        m_upgrader->handleConnection(socket);
    };
    connect(socket, &QTcpSocket::readyRead, this, check);
    if (socket->bytesAvailable() > 0)
        check();
}

void WebSocketDoor::refuseOrigin(QTcpSocket* socket, const QString& origin)
{
    m_log.log(QStringLiteral("WebSocket: Refused origin=[") + origin + QStringLiteral("] ip=[") +
              addressText(socket->peerAddress()) + QLatin1Char(']'));
    m_telemetry.connectionRefused(RefusalReason::Origin);
    socket->write("HTTP/1.1 403 Forbidden\r\nContent-Type: text/plain\r\nContent-Length: 23\r\n"
                  "Connection: close\r\n\r\nOrigin is not allowed.\n");
    socket->disconnectFromHost();
}

void WebSocketDoor::takeConnection()
{
    while (QWebSocket* socket = m_upgrader->nextPendingConnection()) {
        socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        auto* requester = new WebSocketRequester(socket, this);
        m_upgrading.removeAll(nullptr);
        for (qsizetype i = 0; i < m_upgrading.size(); ++i) {
            QTcpSocket* carrier = m_upgrading.at(i);
            // A TCP connection is told apart by its peer's address and port.
            if (carrier->peerPort() == socket->peerPort() &&
                carrier->peerAddress() == socket->peerAddress()) {
                carrier->setParent(requester);
                m_upgrading.removeAt(i);
                break;
            }
        }
        m_log.log(QStringLiteral("WebSocket: ConnectionRequest ip=[") + requester->peerAddress() +
                  QStringLiteral("] port=[") + QString::number(socket->peerPort()) +
                  QStringLiteral("] origin=[") + socket->origin() + QLatin1Char(']'));
        m_telemetry.connectionOpened(Door::WebSocket);

        connect(socket, &QWebSocket::textMessageReceived, requester,
                [this, requester](const QString& message) {
                    // Devices take single-byte text: what Latin-1 cannot hold arrives as "?".
                    const QByteArray bytes = message.toLatin1();
                    // Served from the event loop, like a TCP receipt, so that a request that
                    // arrives while this one waits runs nested.
                    QMetaObject::invokeMethod(
                        this,
                        [this, target = QPointer<Requester>(requester),
                         address = requester->peerAddress(),
                         bytes] { m_service.serve(target.data(), address, bytes); },
                        Qt::QueuedConnection);
                });
        connect(socket, &QWebSocket::binaryMessageReceived, requester, [this, requester] {
            m_log.log(QStringLiteral("WebSocket: Binary message ip=[") + requester->peerAddress() +
                      QStringLiteral("] connection closed"));
            requester->socket().close(QWebSocketProtocol::CloseCodeDatatypeNotSupported,
                                      QStringLiteral("requests are text messages"));
        });
        connect(socket, &QWebSocket::disconnected, requester, [this, requester] {
            m_log.log(QStringLiteral("WebSocket: Close ") + requester->peerAddress() +
                      QStringLiteral(" code=[") + QString::number(requester->socket().closeCode()) +
                      QLatin1Char(']'));
            m_telemetry.connectionClosed(Door::WebSocket);
            requester->markGone();
            requester->deleteLater();
        });
    }
}
