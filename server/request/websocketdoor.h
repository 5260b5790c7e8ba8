#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include "core/telemetry.h"
#include "request/originlist.h"

class AccessPolicy;
class ActivityLog;
class ConnectionLimit;
class LiveSettings;
class QWebSocket;
class QWebSocketServer;
class RequestService;
class WebSocketListener;

// The WebSocket port for browser tills: a second door onto the request service beside the TCP
// port. Each text message is one request and each reply one text message; the same access
// policy and connection cap apply. Pages may connect only from the listed origins.
class WebSocketDoor : public QObject
{
    Q_OBJECT

public:
    // The largest message taken as a request; a larger one closes its connection (1009).
    static constexpr qint64 kMaxMessageBytes = 64 * 1024;
    // How long a connection may take to send its handshake.
    static constexpr int kHandshakeTimeoutMs = 10000;

    // Requests go to `service`, the same that serves the TCP port; `access` and `limit` are
    // the TCP port's too.
    WebSocketDoor(ActivityLog& log, const LiveSettings& settings, const AccessPolicy& access,
                  ConnectionLimit& limit, RequestService& service, QObject* parent = nullptr,
                  Telemetry& telemetry = Telemetry::none());
    ~WebSocketDoor() override;

    // Opens the port that `[WebSocket] Port` names, with TLS when `CertFile` and `KeyFile` are
    // both set. No port set: stays closed and returns true. Returns false, with the reason
    // (also logged), when the port is set but cannot be opened.
    bool start(QString* reason = nullptr);
    // The port listened on, 0 when closed.
    quint16 listeningPort() const;
    bool isSecure() const;

private:
    void screenHandshake(QTcpSocket* socket);
    void refuseOrigin(QTcpSocket* socket, const QString& origin);
    void takeConnection();

    ActivityLog& m_log;
    const LiveSettings& m_settings;
    RequestService& m_service;
    Telemetry& m_telemetry;
    OriginList m_origins;
    WebSocketListener* m_listener;
    // Does the WebSocket upgrade and framing for the sockets the listener admits.
    QWebSocketServer* m_upgrader;
    // Sockets handed to the upgrade: each goes to its WebSocket's requester, whose life then
    // ends it (the WebSocket itself does not free the socket it was made from).
    QList<QPointer<QTcpSocket>> m_upgrading;
};
