#include "doors/tlshandshake.h"

#include <QSslSocket>
#include <QTimer>

QSslConfiguration serverTlsConfiguration(const QSslConfiguration& identity)
{
    QSslConfiguration configuration = identity;
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    return configuration;
}

void startServerHandshake(QSslSocket& socket, const QSslConfiguration& configuration,
                          std::function<void()> encrypted, std::function<void(QString)> failed)
{
    QSslSocket* s = &socket;
    // Every connection of the handshake has the deadline as its context, so that ending the
    // handshake, in whatever way, ends them all at once.
    auto* deadline = new QTimer(s);
    deadline->setSingleShot(true);
    auto end = [s, deadline] {
        deadline->stop();
        QObject::disconnect(s, nullptr, deadline, nullptr);
        QObject::disconnect(deadline, nullptr, deadline, nullptr);
        deadline->deleteLater();
    };
    // abort() may announce the close at once, and nobody else frees the socket yet.
    auto drop = [s, end] {
        end();
        s->abort();
        s->deleteLater();
    };
    QObject::connect(deadline, &QTimer::timeout, deadline, [failed, drop] {
        failed(QStringLiteral("not finished within %1 s").arg(kTlsHandshakeTimeoutMs / 1000));
        drop();
    });
    QObject::connect(s, &QSslSocket::errorOccurred, deadline,
                     [s, failed, drop](QAbstractSocket::SocketError error) {
                         if (error != QAbstractSocket::RemoteHostClosedError)
                             failed(s->errorString());
                         drop();
                     });
    QObject::connect(s, &QSslSocket::disconnected, deadline, drop);
    QObject::connect(s, &QSslSocket::encrypted, deadline, [end, encrypted] {
        end();
        encrypted();
    });
    deadline->start(kTlsHandshakeTimeoutMs);
    s->setSslConfiguration(configuration);
    s->startServerEncryption();
}
