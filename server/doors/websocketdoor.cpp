#include "doors/websocketdoor.h"

#include <QSslSocket>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include "doors/admission.h"
#include "doors/adoptsocket.h"
#include "doors/certificateexpiry.h"
#include "doors/doorlistener.h"
#include "doors/httpresponse.h"
#include "doors/idlewatch.h"
#include "doors/listenport.h"
#include "doors/peeraddress.h"
#include "doors/serverequest.h"
#include "doors/tlsidentity.h"
#include "doors/websocketrequester.h"
#include "log/activitylog.h"
#include "request/requestservice.h"

namespace {

// The longest handshake head read while waiting for its end.
constexpr qint64 kMaxHandshakeBytes = 16 * 1024;

} // namespace

WebSocketDoor::WebSocketDoor(ActivityLog& log, WebSocketSettings settings, QString bindAddress,
                             Admission& admission, RequestService& service, int idleSeconds,
                             QObject* parent)
    : QObject(parent), m_log(log), m_settings(std::move(settings)),
      m_bindAddress(std::move(bindAddress)), m_admission(admission), m_service(service),
      m_idleSeconds(idleSeconds),
      m_listener(new DoorListener(
          log, QStringLiteral("WebSocket"), admission, Door::WebSocket,
          [this](qintptr descriptor, CapPlace place) { admit(descriptor, std::move(place)); },
          this)),
      m_upgrader(new QWebSocketServer(QStringLiteral("Varnel Payment Server"),
                                      QWebSocketServer::NonSecureMode, this))
{
    connect(m_upgrader, &QWebSocketServer::newConnection, this, &WebSocketDoor::takeConnection);
}

WebSocketDoor::~WebSocketDoor() = default;

bool WebSocketDoor::start(QString* reason)
{
    if (isLeftClosed(m_settings.port))
        return true;
    const QString portSetting = m_settings.port.trimmed();
    QString why;
    const QString certFile = m_settings.certFile.trimmed();
    const QString keyFile = m_settings.keyFile.trimmed();
    // The port and the address are checked before the TLS files.
    bool usable = parseListenPort(portSetting, &why) && parseBindAddress(m_bindAddress, &why);
    if (usable && (!certFile.isEmpty() || !keyFile.isEmpty())) {
        if (certFile.isEmpty() || keyFile.isEmpty()) {
            why = QStringLiteral("CertFile and KeyFile must both be set for TLS");
            usable = false;
        } else {
            m_tls = loadTlsIdentity(certFile, keyFile, &why);
            usable = m_tls.has_value();
        }
    }
    if (!usable) {
        m_listener->refuse(portSetting, why, reason);
        return false;
    }
    if (!m_listener->open(portSetting, m_bindAddress, reason,
                          isSecure() ? QStringLiteral(" (wss)") : QStringLiteral(" (ws)"))) {
        m_tls.reset();
        return false;
    }
    m_origins = OriginList(m_settings.origins);
    if (m_tls && !m_expiry) {
        m_expiry = new CertificateExpiryWatch(m_log, m_tls->localCertificate().expiryDate(), this);
        connect(m_expiry, &CertificateExpiryWatch::noticed, this,
                &WebSocketDoor::certificateNoticed);
    }
    return true;
}

quint16 WebSocketDoor::listeningPort() const
{
    return m_listener->port();
}

bool WebSocketDoor::isSecure() const
{
    return m_tls.has_value();
}

qint64 WebSocketDoor::certificateExpiry() const
{
    return m_expiry ? m_expiry->expirySeconds() : 0;
}

QString WebSocketDoor::certificateNotice() const
{
    return m_expiry ? m_expiry->notice() : QString();
}

void WebSocketDoor::admit(qintptr descriptor, CapPlace place)
{
    // However the connection ends (refused origin, failed handshake, closed WebSocket), its
    // socket goes, and with it its place under the cap.
    auto* socket = adoptSocket<QSslSocket>(descriptor, std::move(place), this);
    if (!socket)
        return;
    if (m_tls) {
        socket->setSslConfiguration(*m_tls);
        socket->startServerEncryption();
    }
    screenHandshake(socket);
}

// The handshake is read here first, without consuming it, so that a page from an origin not
// listed gets a plain 403 and the log names it with its address; the WebSocket upgrade proper
// is Qt's.
void WebSocketDoor::screenHandshake(QTcpSocket* socket)
{
    auto* deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, socket, [this, socket] {
        handshakeFailed(socket,
                        QStringLiteral("not finished within %1 s").arg(kHandshakeTimeoutMs / 1000));
        socket->abort();
    });
    deadline->start(kHandshakeTimeoutMs);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::errorOccurred, socket,
            [this, socket](QAbstractSocket::SocketError error) {
                if (error != QAbstractSocket::RemoteHostClosedError)
                    handshakeFailed(socket, socket->errorString());
                socket->abort();
            });

    auto check = [this, socket, deadline] {
        const QByteArray head = socket->peek(kMaxHandshakeBytes + 1);
        const std::optional<QString> origin = handshakeOrigin(head);
        if (!origin) {
            if (head.size() > kMaxHandshakeBytes) {
                handshakeFailed(
                    socket, QStringLiteral("a handshake over %1 bytes").arg(kMaxHandshakeBytes));
                socket->abort();
            }
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
        // A socket that closes while it is still here was never upgraded: the upgrade refused
        // it (or its client left first). Nobody else frees it.
        connect(socket, &QTcpSocket::disconnected, this,
                [this, carrier = QPointer<QTcpSocket>(socket)] {
                    if (!carrier || !m_upgrading.contains(carrier))
                        return;
                    m_upgrading.removeAll(carrier);
                    handshakeFailed(carrier, QStringLiteral("the upgrade was refused"));
                    carrier->deleteLater();
                });
        m_upgrader->handleConnection(socket);
    };
    connect(socket, &QTcpSocket::readyRead, this, check);
    if (socket->bytesAvailable() > 0)
        check();
}

void WebSocketDoor::refuseOrigin(QTcpSocket* socket, const QString& origin)
{
    m_admission.refuseOrigin(origin, socket->peerAddress());
    socket->write(httpResponseBytes({403, "text/plain", "Origin is not allowed.\n", {}}));
    socket->disconnectFromHost();
}

void WebSocketDoor::handshakeFailed(QTcpSocket* socket, const QString& why)
{
    m_admission.handshakeFailed(Door::WebSocket, addressText(socket->peerAddress()), why);
}

void WebSocketDoor::closeIdle(WebSocketRequester* requester, IdleWatch* watch)
{
    // A till that waits for its customer is not idle, however long the wait.
    if (m_service.isAnswering(requester)) {
        watch->activity();
        return;
    }
    m_admission.closedIdle(Door::WebSocket, requester->peerAddress(), m_idleSeconds);
    dropQuietly(requester);
}

void WebSocketDoor::closeKeyless(WebSocketRequester* requester)
{
    m_admission.closedWithoutKey(Door::WebSocket, requester->peerAddress(),
                                 m_service.keyDeadlineSeconds());
    dropQuietly(requester);
}

void WebSocketDoor::dropQuietly(WebSocketRequester* requester)
{
    // Nothing of the socket reaches the requester's handlers from here: no close line.
    QObject::disconnect(&requester->socket(), nullptr, requester, nullptr);
    requester->markGone();
    requester->socket().abort();
    requester->deleteLater();
}

void WebSocketDoor::takeConnection()
{
    while (QWebSocket* socket = m_upgrader->nextPendingConnection()) {
        socket->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
        socket->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
        auto* requester = new WebSocketRequester(socket, isSecure(), this);
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

        // Messages in and replies out keep the connection from being closed as idle.
        auto* idle = new IdleWatch(
            m_idleSeconds, [this, requester](IdleWatch& watch) { closeIdle(requester, &watch); },
            requester);
        if (const int seconds = m_service.keyDeadlineSeconds())
            requester->closeUnlessKeyShownWithin(seconds,
                                                 [this, requester] { closeKeyless(requester); });
        connect(socket, &QWebSocket::textMessageReceived, idle, &IdleWatch::activity);
        connect(socket, &QWebSocket::bytesWritten, idle, &IdleWatch::activity);
        connect(socket, &QWebSocket::textMessageReceived, requester,
                [this, requester](const QString& message) {
                    // Devices take single-byte text: what Latin-1 cannot hold arrives as "?".
                    const QByteArray bytes = message.toLatin1();
                    serveRequest(*this, m_service, *requester, bytes);
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
            requester->markGone();
            requester->deleteLater();
        });
    }
}
