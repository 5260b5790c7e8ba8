#pragma once

// What the doors' end-to-end tests share: a shop CA and a box certificate made by the program
// itself, a TLS client that trusts that CA, and one sample of the metrics port's text.
#include <QByteArray>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringList>

#include "serverprocess.h"

// Makes a shop CA in `caFolder` (`ca.pem`, `ca.key`) and, in `home`, the box's certificate for
// `localhost` signed by it; false when either command fails.
inline bool makeShopCertificates(const QString& caFolder, const QString& home)
{
    const auto run = [](const QStringList& arguments) {
        QProcess process;
        process.start(ServerProcess::binDir() + QStringLiteral("/varnelpayment"), arguments);
        return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    };
    return run({QStringLiteral("--make-ca"), caFolder, QStringLiteral("--name"),
                QStringLiteral("Test shop CA")}) &&
           run({QStringLiteral("--home"), home, QStringLiteral("--make-certificate"),
                QStringLiteral("--ca"), caFolder, QStringLiteral("localhost")});
}

// Opens `socket` to the loopback `port` with TLS, trusting the CA in `caFile` and checking the
// name `localhost`; false when the handshake does not finish.
inline bool connectTrusting(QSslSocket& socket, quint16 port, const QString& caFile)
{
    QSslConfiguration tls = socket.sslConfiguration();
    tls.setCaCertificates(QSslCertificate::fromPath(caFile));
    socket.setSslConfiguration(tls);
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port, QStringLiteral("localhost"));
    if (!socket.waitForEncrypted(5000))
        return false;
    // The handshake's last message may still wait in the socket's buffer.
    socket.flush();
    return true;
}

// The value of one sample ("name{labels}") of the metrics port's text; -1 when it is missing.
inline double scrapedMetric(quint16 metricsPort, const QByteArray& sample)
{
    TestClient client;
    if (!client.connectTo(metricsPort))
        return -1;
    client.send("GET /metrics HTTP/1.0\r\n\r\n");
    for (const QByteArray& line : client.receive(3000).split('\n'))
        if (line.startsWith(sample + ' '))
            return line.mid(sample.size() + 1).toDouble();
    return -1;
}
