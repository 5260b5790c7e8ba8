#include "daemonprocess.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

namespace DaemonProcess {

bool run(const QString& program, const QStringList& arguments, QString* why,
         const QByteArray& input)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(5000)) {
        *why = program + QStringLiteral(" did not start");
        return false;
    }
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *why = program + QStringLiteral(": ") + QString::fromLocal8Bit(process.readAll());
        return false;
    }
    return true;
}

bool waitUntilListening(QProcess& process, quint16 port, const QByteArray& banner)
{
    if (!process.waitForStarted(5000))
        return false;
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired() && process.state() == QProcess::Running) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, port);
        if (probe.waitForConnected(200) &&
            (banner.isEmpty() ||
             (probe.waitForReadyRead(2000) && probe.readAll().startsWith(banner))))
            return true;
        process.waitForFinished(50);
    }
    return false;
}

void stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(3000)) {
        process.kill();
        process.waitForFinished(3000);
    }
}

} // namespace DaemonProcess
