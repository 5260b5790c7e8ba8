#pragma once

#include <optional>

#include <QSslConfiguration>
#include <QTcpServer>

#include "request/refusallog.h"

class AccessPolicy;
class ActivityLog;
class ConnectionLimit;
class QTcpSocket;

// The WebSocket port's TCP listener. It takes each connection's descriptor itself, so that a
// peer the access policy refuses is closed before anything of it is read, a connection over the
// shared cap is closed at once, and TLS starts only for the peers it lets in. Each admitted
// connection is announced as a socket (a QSslSocket under TLS) whose decrypted bytes are the
// WebSocket handshake; it counts against the cap until it is destroyed.
#include "core/telemetry.h"

class WebSocketListener : public QTcpServer
{
    Q_OBJECT

public:
    WebSocketListener(const AccessPolicy& access, ConnectionLimit& limit, ActivityLog& log,
                      QObject* parent = nullptr, Telemetry& telemetry = Telemetry::none());

    // With a configuration the port speaks TLS only.
    void setTls(std::optional<QSslConfiguration> tls) { m_tls = std::move(tls); }
    bool isSecure() const { return m_tls.has_value(); }

Q_SIGNALS:
    // A connection from an allowed peer; this listener is its Qt parent until taken over.
    void admitted(QTcpSocket* socket);

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    const AccessPolicy& m_access;
    ConnectionLimit& m_limit;
    ActivityLog& m_log;
    Telemetry& m_telemetry;
    RefusalLog m_refusals;
    std::optional<QSslConfiguration> m_tls;
};
