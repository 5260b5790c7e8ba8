#include "ftpserverprocess.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include "serverprocess.h"

FtpServerProcess::FtpServerProcess(QString user, QString password)
    : m_user(std::move(user)), m_password(std::move(password))
{
}

FtpServerProcess::~FtpServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000)) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
}

void FtpServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(3000);
}

bool FtpServerProcess::start()
{
    // A port found free can be taken before the server listens on it: try a fresh one.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnFreePort())
            return true;
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    return false;
}

bool FtpServerProcess::startOnFreePort()
{
    m_port = ServerProcess::freePort();
    // Debian's interpreter, which has Debian's Python packages.
    m_process.setProgram(QStringLiteral("/usr/bin/python3"));
    m_process.setArguments({QStringLiteral("-m"), QStringLiteral("pyftpdlib"), QStringLiteral("-i"),
                            QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                            QString::number(m_port), QStringLiteral("-u"), m_user,
                            QStringLiteral("-P"), m_password, QStringLiteral("-w"),
                            QStringLiteral("-d"), m_root.path()});
    // It logs every session on its error output; the tests look at the files instead.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200) && probe.waitForReadyRead(2000) &&
            probe.readAll().startsWith("220"))
            return true;
        m_process.waitForFinished(50);
    }
    return false;
}
