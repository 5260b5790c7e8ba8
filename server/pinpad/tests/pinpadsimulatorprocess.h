#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QStringList>

#include "serverprocess.h"

// varnel-pinpad, started on a link and stopped with the test; its lines read as they come.
class PinPadSimulator
{
public:
    ~PinPadSimulator()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
    }
    bool start(const QString& link, const QStringList& arguments)
    {
        m_process.start(ServerProcess::binDir() + QStringLiteral("/varnel-pinpad"),
                        QStringList{QStringLiteral("--link"), link} + arguments);
        return m_process.waitForStarted(5000) && waitForLine(QStringLiteral("ready ") + link);
    }
    // Every line printed so far.
    QStringList lines()
    {
        // Lines printed before the reply that the test has seen are in the pipe already.
        while (m_process.waitForReadyRead(20))
            m_out += QString::fromLatin1(m_process.readAllStandardOutput());
        m_out += QString::fromLatin1(m_process.readAllStandardOutput());
        return m_out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The pad goes away at once, as an unplugged one does: its end of the line closes.
    void kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    bool waitForLine(const QString& line, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (!lines().contains(line)) {
            if (deadline.hasExpired() || m_process.state() != QProcess::Running)
                return false;
            m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        }
        return true;
    }

private:
    QProcess m_process;
    QString m_out;
};
