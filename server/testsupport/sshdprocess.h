#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// OpenSSH's sshd on a free loopback port as an SFTP server for upload tests (internal-sftp),
// for one local user that logs in with a password or a key. Runs only as root: it makes that
// user (`varnelsftp`) when missing and gives it a fresh password at every start.
class SshdProcess
{
public:
    SshdProcess();
    ~SshdProcess();

    // False (with why() set) when the server did not come up within 10 s.
    bool start();
    QString why() const { return m_why; }

    quint16 port() const { return m_port; }
    QString user() const;
    QString password() const { return m_password; }
    // A PEM private key the server accepts for the user.
    QString userKey() const { return m_dir.filePath(QStringLiteral("userkey")); }
    // A known_hosts file holding the server's host key, and one holding another key for it.
    QString knownHosts() const { return m_dir.filePath(QStringLiteral("known_hosts")); }
    QString wrongKnownHosts() const { return m_dir.filePath(QStringLiteral("wrong_known_hosts")); }
    // A folder the user may write to, as an absolute path.
    QString uploads() const { return m_dir.filePath(QStringLiteral("in")); }

private:
    bool startOnFreePort();

    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_password;
    QString m_why;
};
