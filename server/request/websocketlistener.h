#pragma once

#include <optional>

#include <QSslConfiguration>
#include <QTcpServer>

class AccessPolicy;
class ActivityLog;
class QTcpSocket;

// The WebSocket port's TCP listener. It takes each connection's descriptor itself, so that a
// peer the access policy refuses is closed before anything of it is read, and TLS starts only
// for the peers it lets in. Each admitted connection is announced as a socket (a QSslSocket
// under TLS) whose decrypted bytes are the WebSocket handshake.
class WebSocketListener : public QTcpServer
{
    Q_OBJECT

public:
    WebSocketListener(const AccessPolicy& access, ActivityLog& log, QObject* parent = nullptr);

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
    ActivityLog& m_log;
    std::optional<QSslConfiguration> m_tls;
};
