#pragma once

#include <optional>

#include <QSslConfiguration>
#include <QString>

// The server side of TLS from a PEM certificate file (the server's certificate first, then any
// chain) and a PEM private key file without a pass phrase. Returns nothing, with the reason in
// `reason`, when a file cannot be read or parsed or the key does not belong to the certificate.
std::optional<QSslConfiguration> loadTlsIdentity(const QString& certFile, const QString& keyFile,
                                                 QString* reason);
