#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// Debian's vsftpd on a free loopback port as an FTPS server for upload tests: anonymous
// logins (any password) that must use TLS, with write access to the folder "/in". Runs only
// as root, which vsftpd needs to become its anonymous user (the package's own `ftp`).
class VsftpdProcess
{
public:
    // `implicitTls`: TLS from the first byte (ftps://); otherwise AUTH TLS first (ftp://).
    explicit VsftpdProcess(bool implicitTls);
    ~VsftpdProcess();

    // Makes the server's certificate and starts it; false (with why() set) when it did not
    // come up within 10 s.
    bool start();
    QString why() const { return m_why; }

    quint16 port() const { return m_port; }
    // The server's certificate, self-signed for 127.0.0.1: a CA file that trusts it.
    QString certificate() const { return m_dir.filePath(QStringLiteral("cert.pem")); }
    // "/in" on the server.
    QString uploads() const { return m_dir.filePath(QStringLiteral("root/in")); }
    // Every command the server received, as its protocol log shows them.
    QString protocolLog() const;

private:
    bool startOnFreePort();

    const bool m_implicitTls;
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_why;
};
