#pragma once

#include <optional>

#include <QMap>
#include <QObject>
#include <QSslConfiguration>
#include <QString>

#include "doors/clientconnection.h"
#include "doors/connectionlimit.h"
#include "request/requester.h"
#include "settings/settings.h"

class ActivityLog;
class Admission;
class DoorListener;
class QTcpSocket;
class RequestService;

// The TCP door of the request service: listens on `[Local] localSockport`, takes the client
// connections that the shared admission lets in and hands every receipt of data to the service
// as one request, with the connection it came on as its requester. Made with TLS settings, it is
// the TLS door instead: the same requests and replies on `[TLS] Port`, inside TLS, where a
// receipt is the bytes that one read decrypts.
class TcpDoor : public QObject
{
    Q_OBJECT

public:
    // A receipt larger than this is not parsed: the connection is closed instead.
    static constexpr qint64 kMaxRequestBytes = Requester::kMaxRequestBytes;

    // Listens as `local` says; requests go to `service`; who comes in is `admission`'s to say,
    // the same for every door.
    TcpDoor(ActivityLog& log, LocalSettings local, RequestService& service, Admission& admission,
            QObject* parent = nullptr);
    // The TLS door: listens on `tls`'s port at `local`'s bind address; failed handshakes are
    // the admission's to count and log.
    TcpDoor(ActivityLog& log, LocalSettings local, TlsSettings tls, RequestService& service,
            Admission& admission, QObject* parent = nullptr);
    ~TcpDoor() override;

    // Listens on the port setting's port (on `[Local] bindAddress` when set). Returns false, with
    // the reason, when the setting holds no usable port or the port cannot be listened on; the
    // reason is also logged. The TLS door with no port set stays closed and returns true.
    bool start_listening(QString* reason = nullptr);
    // The port listened on, 0 before listening.
    quint16 listeningPort() const;

    // The number of open client connections.
    int sockCount() const { return m_sockCount; }

private:
    TcpDoor(ActivityLog& log, LocalSettings local, std::optional<TlsSettings> tls,
            RequestService& service, Admission& admission, QObject* parent);

    // An admitted client: its connection is made from `descriptor` and holds `place`.
    void socket_ConnectionRequest(qintptr descriptor, CapPlace place);
    // A client's socket, in clear or encrypted, becomes one of the door's connections.
    void takeClient(QTcpSocket* client, CapPlace place);
    void socket_DataArrival(ClientConnection* connection, const QByteArray& bytes);
    void socket_Close(ClientConnection* connection);
    // Closes a connection that has been quiet for `[Local] IdleSeconds`, without a line of its
    // own: a burst of them is one line a second.
    void closeIdle(ClientConnection* connection);
    // Closes a connection that showed no key in time, where every request needs one.
    void closeKeyless(ClientConnection* connection);
    void socket_Error();
    int freeSlot() const;
    bool startTls(QString* reason);

    ActivityLog& m_log;
    LocalSettings m_local;
    // Set for the TLS door; its identity is loaded when it starts.
    std::optional<TlsSettings> m_tlsSettings;
    std::optional<QSslConfiguration> m_tls;
    Door m_door;
    // "Socket" or "TLS", at the start of the door's own lines.
    QString m_logName;
    RequestService& m_service;
    Admission& m_admission;
    DoorListener* m_listener;
    // The open connections by slot; each is a Qt child of this server.
    QMap<int, ClientConnection*> m_slots;
    int m_sockCount = 0;
};
