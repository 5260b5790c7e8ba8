#include "serverprocess.h"

#include "testfiles.h"

#include <cstdio>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QThread>

ServerProcess::ServerProcess(QString settings, QStringList extraArguments)
    : m_settings(std::move(settings)), m_extraArguments(std::move(extraArguments))
{
}

ServerProcess::~ServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    if (s_testFailed && s_testFailed())
        std::fputs(qPrintable(diagnostics()), stderr);
}

QString ServerProcess::diagnostics(int logLines)
{
    QFile log(QDir(m_homePath).filePath(QStringLiteral("varnelpayment.log")));
    QStringList lines;
    if (log.open(QIODevice::ReadOnly))
        lines = QString::fromLatin1(log.readAll())
                    .remove(QLatin1Char('\r'))
                    .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const qsizetype shown = qMin<qsizetype>(lines.size(), logLines);
    QString text = QStringLiteral("--- varnelpayment on port %1: standard error\n").arg(m_port);
    text += QString::fromLocal8Bit(m_process.readAllStandardError());
    text += QStringLiteral("\n--- the last %1 of %2 log lines\n").arg(shown).arg(lines.size());
    text += lines.mid(lines.size() - shown).join(QLatin1Char('\n'));
    return text + QStringLiteral("\n---\n");
}

QString ServerProcess::binDir()
{
    const QByteArray fromEnvironment = qgetenv("VARNEL_BIN_DIR");
    return fromEnvironment.isEmpty() ? QCoreApplication::applicationDirPath()
                                     : QString::fromLocal8Bit(fromEnvironment);
}

quint16 ServerProcess::freePort()
{
    // Below the kernel's ephemeral range (32768 and up here): a port given out there may become
    // the source port of any test's outgoing connection before the test listens on it.
    constexpr int kLowest = 20000;
    constexpr int kHighest = 32000;
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer probe;
        const auto port = quint16(QRandomGenerator::global()->bounded(kLowest, kHighest));
        if (probe.listen(QHostAddress::LocalHost, port))
            return port;
    }
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool ServerProcess::start()
{
    // A port found free can be taken by a parallel test before the server listens on it; the
    // server then exits at once, and a fresh port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnFreePorts())
            return true;
        if (m_process.state() != QProcess::NotRunning)
            return false; // running but not ready: a real fault, not a port race
        QFile::remove(QDir(m_homePath).filePath(QStringLiteral("varnelpayment.log")));
    }
    return false;
}

bool ServerProcess::startOnFreePorts()
{
    m_port = freePort();
    QDir().mkpath(m_homePath);
    QFile ini(QDir(m_homePath).filePath(QStringLiteral("varnelpayment.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        return false;
    // The simulated pad's control port is free too, so servers of parallel tests never clash.
    ini.write("[Local]\r\nlocalSockport=" + QByteArray::number(m_port) + "\r\n" +
              m_settings.toLatin1());
    if (!m_settings.contains(QLatin1String("[Simulator]"), Qt::CaseInsensitive))
        ini.write("\r\n[Simulator]\r\npadControlPort=" + QByteArray::number(freePort()) + "\r\n");
    // The serial port scan never touches this machine's own ports.
    if (!m_settings.contains(QLatin1String("[SerialPorts]"), Qt::CaseInsensitive)) {
        ini.write("\r\n[SerialPorts]\r\n");
        for (int port = 1; port <= 8; ++port)
            ini.write(
                "COM" + QByteArray::number(port) + '=' +
                QFile::encodeName(QDir(m_homePath).filePath(QStringLiteral("no-serial-port"))) +
                "\r\n");
    }
    ini.close();

    const qsizetype earlier = logEntries().size();
    const QString server = binDir() + QStringLiteral("/varnelpayment");
    QStringList arguments{QStringLiteral("--home"), m_homePath};
    if (m_headless)
        arguments.prepend(QStringLiteral("--headless"));
    arguments += m_extraArguments;
    if (m_launcher.isEmpty()) {
        m_process.setProgram(server);
    } else {
        m_process.setProgram(m_launcher.first());
        arguments = m_launcher.mid(1) + QStringList{server} + arguments;
    }
    m_process.setArguments(arguments);
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    // Start-up ends with the first purge, after the listener is up.
    // A folder used before holds an earlier run's lines: only this run's count.
    const auto thisRun = [this, earlier] { return logEntries().mid(earlier); };
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && m_process.state() == QProcess::Running &&
           !thisRun().contains(QStringLiteral("purge_log: finished")))
        m_process.waitForFinished(20);
    return m_process.state() == QProcess::Running &&
           thisRun().contains(QStringLiteral("purge_log: finished")) &&
           thisRun().contains(QStringLiteral("Socket: Listening Port ") + QString::number(m_port));
}

int ServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return m_process.exitCode();
    m_process.terminate();
    if (!m_process.waitForFinished(10000))
        return -1;
    return m_process.exitCode();
}

QStringList ServerProcess::logEntries() const
{
    return TestFiles::logEntries(QDir(m_homePath).filePath(QStringLiteral("varnelpayment.log")));
}

QStringList ServerProcess::logEntriesFrom(const QString& first) const
{
    const QStringList all = logEntries();
    const qsizetype start = all.indexOf(first);
    return start < 0 ? QStringList() : all.mid(start);
}

bool ServerProcess::waitForLogEntry(const QString& entry, int timeoutMs) const
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        if (logEntries().contains(entry))
            return true;
        QThread::msleep(20);
    }
    return logEntries().contains(entry);
}

bool TestClient::connectTo(quint16 port)
{
    return connectTo(QHostAddress(QHostAddress::LocalHost), port);
}

bool TestClient::connectTo(const QHostAddress& address, quint16 port)
{
    m_socket.connectToHost(address, port);
    return m_socket.waitForConnected(5000);
}

qint64 ServerProcess::cpuTicks() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(m_process.processId()));
    if (m_process.processId() <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The fields after the command's closing parenthesis; utime and stime are the 12th and 13th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

void TestClient::send(const QByteArray& bytes)
{
    m_socket.write(bytes);
    m_socket.waitForBytesWritten(5000);
}

QByteArray TestClient::receive(int timeoutMs, qsizetype expectedBytes)
{
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        received += m_socket.readAll();
        if (expectedBytes >= 0 && received.size() >= expectedBytes)
            break;
        if (m_socket.state() != QAbstractSocket::ConnectedState)
            break;
        m_socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, deadline.remainingTime())));
    }
    return received + m_socket.readAll();
}

QByteArray TestClient::transact(const QByteArray& request, const QByteArray& expectedReply)
{
    send(request);
    return receive(5000, expectedReply.size());
}

void TestClient::close()
{
    m_socket.disconnectFromHost();
    if (m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.waitForDisconnected(2000);
}
