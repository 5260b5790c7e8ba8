#pragma once

// What the pad's end-to-end tests share: the real server with its simulated pad on free
// ports, the varnel-pad tool, and a direct connection to the pad's control port.
#include <gtest/gtest.h>

#include <memory>

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpSocket>

#include "pad/padcontrolprotocol.h"
#include "serverprocess.h"

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// A connection to the simulated pad's control port, for answers the test must time itself.
class PadControlClient
{
public:
    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return m_socket.waitForConnected(5000);
    }
    void send(const QStringList& words)
    {
        m_socket.write(PadControlProtocol::encodeRequest(words));
        m_socket.waitForBytesWritten(5000);
    }
    // The next closing line ("ok", "timeout", "error ..."); the lines before it are skipped.
    // Empty when none came within `timeoutMs`.
    QString closingLine(int timeoutMs)
    {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            while (m_socket.canReadLine()) {
                const QString line = QString::fromUtf8(m_socket.readLine()).trimmed();
                if (PadControlProtocol::isClosingLine(line))
                    return line;
            }
            if (deadline.hasExpired() ||
                !m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
                return QString();
        }
    }
    // Asks to be told when the pad shows `form`, and returns once the pad has taken the
    // request: the state asked right after it is answered only after the wait is in place.
    bool awaitForm(const QString& form)
    {
        send({QStringLiteral("wait-form"), form, QStringLiteral("10000")});
        send({QStringLiteral("state")});
        return closingLine(5000) == QStringLiteral("ok");
    }

private:
    QTcpSocket m_socket;
};

class PadE2E : public ::testing::Test
{
protected:
    // Starts the server with the simulated pad's control port on a free port.
    void startServer(const QStringList& arguments, const QString& settings = {})
    {
        m_controlPort = ServerProcess::freePort();
        m_server = std::make_unique<ServerProcess>(
            QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n").arg(m_controlPort) + settings,
            arguments);
        ASSERT_TRUE(m_server->start()) << "server did not start";
    }
    ServerProcess& server() { return *m_server; }

    // varnel-pad started and left running, for a swipe that waits for its form.
    std::unique_ptr<QProcess> startTool(const QStringList& arguments)
    {
        auto tool = std::make_unique<QProcess>();
        tool->start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                    QStringList{QStringLiteral("--port"), QString::number(m_controlPort)} +
                        arguments);
        EXPECT_TRUE(tool->waitForStarted(5000));
        return tool;
    }
    static ToolRun finish(QProcess& tool, int timeoutMs = 15000)
    {
        ToolRun run;
        if (!tool.waitForFinished(timeoutMs))
            return run;
        run.exitCode = tool.exitCode();
        run.out = QString::fromUtf8(tool.readAllStandardOutput());
        run.err = QString::fromUtf8(tool.readAllStandardError());
        return run;
    }
    ToolRun tool(const QStringList& arguments, int timeoutMs = 15000)
    {
        auto process = startTool(arguments);
        return finish(*process, timeoutMs);
    }
    // The pad's state lines, without the tool's exit.
    QStringList padState()
    {
        const ToolRun run = tool({QStringLiteral("state")});
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        return run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    QByteArray logBytes() const
    {
        QFile file(m_server->home() + QStringLiteral("/varnelpayment.log"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    quint16 m_controlPort = 0;
    std::unique_ptr<ServerProcess> m_server;
};
