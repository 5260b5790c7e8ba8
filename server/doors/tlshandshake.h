#pragma once

#include <functional>

#include <QSslConfiguration>
#include <QString>

class QSslSocket;

// How long a client may take over its TLS handshake before it is closed.
inline constexpr int kTlsHandshakeTimeoutMs = 10000;

// The server side of TLS with the box's identity, for versions 1.2 and later only.
QSslConfiguration serverTlsConfiguration(const QSslConfiguration& identity);

// Starts the server's TLS handshake on `socket` without waiting for it. `encrypted` runs once
// the handshake is done; `failed` runs, with words for the log, when the client sends what is
// not TLS, offers only an older version, or has not finished within the time allowed, and the
// socket is then aborted. A client that closes mid-handshake is neither. Until `encrypted` has
// run the socket is the handshake's: it is deleted later when the handshake ends without it.
void startServerHandshake(QSslSocket& socket, const QSslConfiguration& configuration,
                          std::function<void()> encrypted, std::function<void(QString)> failed);
