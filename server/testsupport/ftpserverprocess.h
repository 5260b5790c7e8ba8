#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// A real FTP server for upload tests and benchmarks: Debian's pyftpdlib on a free loopback
// port, one user with write access whose root is a fresh temporary folder.
class FtpServerProcess
{
public:
    FtpServerProcess(QString user, QString password);
    ~FtpServerProcess();

    // Starts the server and waits until it accepts connections. False when it did not
    // within 10 s.
    bool start();

    quint16 port() const { return m_port; }
    // Kills the server at once, as a crash would, and waits until it has gone.
    void kill();
    // The user's root folder.
    QString root() const { return m_root.path(); }

private:
    bool startOnFreePort();

    QString m_user;
    QString m_password;
    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
};
