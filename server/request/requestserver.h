#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QString>

#include "request/replychannel.h"

class ActivityLog;
class LiveSettings;
class QTcpServer;
class QTcpSocket;
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

    RequestServer(ActivityLog& log, LiveSettings& settings, QString signaturesFolder,
                  QObject* parent = nullptr);
    ~RequestServer() override;

    // The dispatcher that runs parsed requests; set before listening starts.
    void setDispatcher(RequestDispatcher* dispatcher) { m_dispatcher = dispatcher; }

    // Listens on the port field's port. Returns false, with the reason, when the field holds
    // no usable port or the port cannot be listened on; the reason is also logged.
    bool start_listening(QString* reason = nullptr);
    // The port listened on, 0 before listening.
    quint16 listeningPort() const;

    // The waiting limit of the pad operations, in seconds (0 reads as 60); set by TIMER.
    qint16& padTimeout() { return m_padTimeout; }
    // The number of open client connections.
    int sockCount() const { return m_sockCount; }

    void return_xml(QString& xml, bool skipDebug) override;

private:
    struct Connection
    {
        QTcpSocket* socket = nullptr;
        int slot = 0;
        QString peerIp;
        int activeTransactions = 0;
        bool closed = false;
    };

    void socket_ConnectionRequest();
    void socket_DataArrival(Connection* connection);
    // Runs one receipt's transaction with its replies going to `connection`.
    void serve(Connection* connection, const QByteArray& bytes);
    void socket_Close(Connection* connection);
    void socket_Error();
    void runTransaction(const QString& text);
    void finishWith(Connection* connection);
    int freeSlot() const;

    ActivityLog& m_log;
    LiveSettings& m_settings;
    QString m_signaturesFolder;
    RequestDispatcher* m_dispatcher = nullptr;
    QTcpServer* m_listener;
    QMap<int, Connection*> m_slots;
    // The connections whose transactions are running, innermost last: replies go to the last.
    QList<Connection*> m_serving;
    int m_sockCount = 0;
    qint16 m_padTimeout = 0;
};
