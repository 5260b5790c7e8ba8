#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include "request/accesspolicy.h"
#include "request/clientconnection.h"
#include "request/replychannel.h"

class ActivityLog;
class LiveSettings;
class PadTimeout;
class QTcpServer;
class RequestDispatcher;

// The network side of the server: listens on the port field's port, accepts client
// connections, runs one transaction per receipt of data and sends every reply to the
// connection whose request is being served, however connections open and close.
class RequestServer : public QObject, public ReplyChannel
{
    Q_OBJECT

public:
    // A receipt larger than this is not parsed: the connection is closed instead.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;

    // A request's TIMER sets `padTimeout`, which the device operations read.
    RequestServer(ActivityLog& log, LiveSettings& settings, PadTimeout& padTimeout,
                  QString signaturesFolder, QObject* parent = nullptr);
    ~RequestServer() override;

    // The dispatcher that runs parsed requests; set before listening starts.
    void setDispatcher(RequestDispatcher* dispatcher) { m_dispatcher = dispatcher; }

    // Who may connect; a connection from any other address is closed before it is read.
    void setAccessPolicy(const AccessPolicy& policy) { m_access = policy; }

    // Listens on the port field's port, on `[Local] bindAddress` when that is set. Returns false,
    // with the reason, when the field holds no usable port or the port cannot be listened on; the
    // reason is also logged.
    bool start_listening(QString* reason = nullptr);
    // The port listened on, 0 before listening.
    quint16 listeningPort() const;

    // The number of open client connections.
    int sockCount() const { return m_sockCount; }

    void return_xml(QString& xml, bool skipDebug) override;

    // Runs one request's transaction with its replies going to `requester`, which may have
    // gone (and be null) by then: the request still runs, only its replies fail. Every door
    // hands its requests here.
    void serve(Requester* requester, const QByteArray& bytes);

private:
    void socket_ConnectionRequest();
    void socket_DataArrival(ClientConnection* connection);
    void socket_Close(ClientConnection* connection);
    void socket_Error();
    void runTransaction(const QString& text);
    int freeSlot() const;

    ActivityLog& m_log;
    LiveSettings& m_settings;
    QString m_signaturesFolder;
    RequestDispatcher* m_dispatcher = nullptr;
    AccessPolicy m_access;
    PadTimeout& m_padTimeout;
    QTcpServer* m_listener;
    // The open connections by slot; each is a Qt child of this server.
    QMap<int, ClientConnection*> m_slots;
    // The connections whose transactions are running, innermost last: replies go to the last.
    // A connection that closes during its own transaction is gone from here once freed.
    QList<QPointer<Requester>> m_serving;
    int m_sockCount = 0;
};
