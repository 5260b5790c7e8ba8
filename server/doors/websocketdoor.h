#pragma once

#include <optional>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslConfiguration>
#include <QString>
#include <QTcpSocket>

#include "doors/connectionlimit.h"
#include "request/originlist.h"
#include "request/requester.h"
#include "settings/settings.h"

class CertificateExpiryWatch;
class ActivityLog;
class Admission;
class DoorListener;
class QWebSocket;
class QWebSocketServer;
class RequestService;
class WebSocketRequester;
class IdleWatch;

// The WebSocket port for browser tills: a second door onto the request service beside the TCP
// port. Each text message is one request and each reply one text message; the same access
// admission (allow-list, connection cap, refusal lines) applies. Pages may connect only from the
// listed origins.
class WebSocketDoor : public QObject
{
    Q_OBJECT

public:
    // The largest message taken as a request; a larger one closes its connection (1009).
    static constexpr qint64 kMaxMessageBytes = Requester::kMaxRequestBytes;
    // How long a connection may take to send its handshake.
    static constexpr int kHandshakeTimeoutMs = 10000;

    // Opens as `settings` say, on `bindAddress` (`[Local] bindAddress`). Requests go to
    // `service`, the same that serves the TCP port; `admission` is the TCP port's too. A
    // connection that sends nothing for `idleSeconds` is closed.
    WebSocketDoor(ActivityLog& log, WebSocketSettings settings, QString bindAddress,
                  Admission& admission, RequestService& service,
                  int idleSeconds = LocalSettings::kDefaultIdleSeconds, QObject* parent = nullptr);
    ~WebSocketDoor() override;

    // Opens the port that `[WebSocket] Port` names, with TLS when `CertFile` and `KeyFile` are
    // both set. No port set: stays closed and returns true. Returns false, with the reason
    // (also logged), when the port is set but cannot be opened.
    bool start(QString* reason = nullptr);
    // The port listened on, 0 when closed.
    quint16 listeningPort() const;
    bool isSecure() const;
    // The served certificate's end in seconds since 1970 (UTC); 0 without TLS.
    qint64 certificateExpiry() const;
    // The last "WebSocket: CertFile expires=..." line logged; empty while the end is far.
    QString certificateNotice() const;

Q_SIGNALS:
    // The certificate's end is near (or past): logged at start and once a day.
    void certificateNoticed(const QString& line);

private:
    // An admitted connection: its socket (TLS when the port speaks it) is made from
    // `descriptor` and holds `place` for as long as it lives.
    void admit(qintptr descriptor, CapPlace place);
    void screenHandshake(QTcpSocket* socket);
    void refuseOrigin(QTcpSocket* socket, const QString& origin);
    void takeConnection();
    // Closes a WebSocket that has been quiet for the idle time, without a line of its own.
    void closeIdle(WebSocketRequester* requester, IdleWatch* watch);
    // Closes a connection that showed no key in time, where every request needs one.
    void closeKeyless(WebSocketRequester* requester);
    // Closes the connection without the close line that a client's own close gets.
    void dropQuietly(WebSocketRequester* requester);
    // A handshake (TLS or the upgrade) of the connection from `socket` failed for `why`.
    void handshakeFailed(QTcpSocket* socket, const QString& why);

    ActivityLog& m_log;
    WebSocketSettings m_settings;
    QString m_bindAddress;
    Admission& m_admission;
    RequestService& m_service;
    int m_idleSeconds;
    OriginList m_origins;
    // With a configuration the port speaks TLS only.
    std::optional<QSslConfiguration> m_tls;
    DoorListener* m_listener;
    // Made when TLS starts.
    CertificateExpiryWatch* m_expiry = nullptr;
    // Does the WebSocket upgrade and framing for the sockets the listener admits.
    QWebSocketServer* m_upgrader;
    // Sockets handed to the upgrade: each goes to its WebSocket's requester, whose life then
    // ends it (the WebSocket itself does not free the socket it was made from).
    QList<QPointer<QTcpSocket>> m_upgrading;
};
