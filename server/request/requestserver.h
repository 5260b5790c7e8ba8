#pragma once

#include <QMap>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include "core/telemetry.h"
#include "request/accesspolicy.h"
#include "request/clientconnection.h"
#include "request/refusallog.h"

class ActivityLog;
class ConnectionLimit;
class LiveSettings;
class QTcpServer;
class QTcpSocket;
class RequestService;

// The TCP door of the request service: listens on the port field's port, accepts client
// connections up to the connection cap and hands every receipt of data to the service as one
// request, with the connection it came on as its requester.
class RequestServer : public QObject
{
    Q_OBJECT

public:
    // A receipt larger than this is not parsed: the connection is closed instead.
    static constexpr qint64 kMaxRequestBytes = 64 * 1024;
    // After an accept fails for want of descriptors, accepting pauses this long.
    static constexpr int kAcceptPauseMs = 250;
    // Descriptors the connection cap leaves to the log, the devices, uploads and the pad's
    // control port, below the process's file limit.
    static constexpr int kReservedDescriptors = 32;

    // Connections opened, closed and refused are reported to `telemetry`.
    RequestServer(ActivityLog& log, LiveSettings& settings, RequestService& service,
                  ConnectionLimit& limit, QObject* parent = nullptr,
                  Telemetry& telemetry = Telemetry::none());
    ~RequestServer() override;

    // Who may connect; a connection from any other address is closed before it is read.
    void setAccessPolicy(const AccessPolicy& policy) { m_access = policy; }

    // Listens on the port field's port (on `[Local] bindAddress` when set), and lowers the
    // connection cap (logged) where the file limit leaves less room. Returns false, with the
    // reason, when the field holds no usable port or the port cannot be listened on; the reason is
    // also logged.
    bool start_listening(QString* reason = nullptr);
    // The port listened on, 0 before listening.
    quint16 listeningPort() const;

    // The number of open client connections.
    int sockCount() const { return m_sockCount; }

private:
    // Accepts every pending connection itself: Qt's own accepting retries at once, without
    // end, when the process is out of descriptors.
    void socket_ConnectionRequest();
    void fitCapToFileLimit();
    // Out of descriptors all the same (something else holds them): waiting clients are closed
    // and accepting pauses.
    void acceptFailed(int error);
    void pauseAccepting();
    void resumeAccepting();
    void logWithSpareFreed(const QString& line);
    // Takes over `socket`.
    void addConnection(QTcpSocket* socket);
    void socket_DataArrival(ClientConnection* connection);
    void socket_Close(ClientConnection* connection);
    void socket_Error();
    int freeSlot() const;

    ActivityLog& m_log;
    LiveSettings& m_settings;
    RequestService& m_service;
    ConnectionLimit& m_limit;
    Telemetry& m_telemetry;
    AccessPolicy m_access;
    QTcpServer* m_listener;
    // Watches the listener's descriptor; a member, so it is gone before the listener (a child)
    // closes that descriptor.
    QSocketNotifier m_accepting{QSocketNotifier::Read};
    QTimer m_acceptPause;
    RefusalLog m_refusals;
    // Kept open so that one descriptor is free to turn a connection away, and to write its
    // log line, when all others are in use.
    int m_spareDescriptor = -1;
    // The open connections by slot; each is a Qt child of this server.
    QMap<int, ClientConnection*> m_slots;
    int m_sockCount = 0;
};
