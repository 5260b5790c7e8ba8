#pragma once

#include <QMap>
#include <QObject>
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
// as one request, with the connection it came on as its requester.
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
    ~TcpDoor() override;

    // Listens on the port setting's port (on `[Local] bindAddress` when set). Returns false, with
    // the reason, when the setting holds no usable port or the port cannot be listened on; the
    // reason is also logged.
    bool start_listening(QString* reason = nullptr);
    // The port listened on, 0 before listening.
    quint16 listeningPort() const;

    // The number of open client connections.
    int sockCount() const { return m_sockCount; }

private:
    // An admitted client: its connection is made from `descriptor` and holds `place`.
    void socket_ConnectionRequest(qintptr descriptor, CapPlace place);
    void socket_DataArrival(ClientConnection* connection, const QByteArray& bytes);
    void socket_Close(ClientConnection* connection);
    void socket_Error();
    int freeSlot() const;

    ActivityLog& m_log;
    LocalSettings m_local;
    RequestService& m_service;
    DoorListener* m_listener;
    // The open connections by slot; each is a Qt child of this server.
    QMap<int, ClientConnection*> m_slots;
    int m_sockCount = 0;
};
