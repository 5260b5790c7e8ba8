#include "scriptedftpserver.h"

#include <QMutexLocker>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

ScriptedFtpServer::ScriptedFtpServer(Mode mode) : m_mode(mode)
{
    start();
    m_ready.acquire();
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    quit();
    wait();
}

QStringList ScriptedFtpServer::commands() const
{
    const QMutexLocker lock(&m_mutex);
    return m_commands;
}

QByteArray ScriptedFtpServer::stored() const
{
    const QMutexLocker lock(&m_mutex);
    return m_stored;
}

void ScriptedFtpServer::run()
{
    QTcpServer control;
    QTcpServer data;
    QPointer<QTcpSocket> session;
    const auto reply = [&session](const QByteArray& line) {
        if (session)
            session->write(line + "\r\n");
    };
    const auto confirm = [&] {
        static const QByteArray kConfirmation = "226 stored\r\n";
        switch (m_mode) {
        case Mode::Confirms:
            session->write(kConfirmation);
            break;
        case Mode::ConfirmsLate:
            QTimer::singleShot(2000, session, [&] { session->write(kConfirmation); });
            break;
        case Mode::DripsConfirmation: {
            auto* drip = new QTimer(session);
            auto sent = std::make_shared<qsizetype>(0);
            QObject::connect(drip, &QTimer::timeout, session, [&session, drip, sent] {
                session->write(kConfirmation.mid((*sent)++, 1));
                if (*sent == kConfirmation.size())
                    drip->stop();
            });
            drip->start(500);
            break;
        }
        default:
            break;
        }
    };
    QObject::connect(&control, &QTcpServer::newConnection, [&] {
        session = control.nextPendingConnection();
        m_connected = true;
        QObject::connect(session, &QTcpSocket::disconnected, [this] { m_sessionClosed = true; });
        QObject::connect(session, &QTcpSocket::readyRead, [&] {
            while (session->canReadLine()) {
                const QString line = QString::fromLatin1(session->readLine().trimmed());
                {
                    const QMutexLocker lock(&m_mutex);
                    m_commands.append(line);
                }
                const QString verb = line.section(QLatin1Char(' '), 0, 0).toUpper();
                if (verb == QLatin1String("USER"))
                    reply("331 password please");
                else if (verb == QLatin1String("PASS"))
                    reply("230 logged in");
                else if (verb == QLatin1String("PWD"))
                    reply("257 \"/\"");
                else if (verb == QLatin1String("EPSV"))
                    reply("229 passive (|||" + QByteArray::number(data.serverPort()) + "|)");
                else if (verb == QLatin1String("TYPE"))
                    reply("200 binary");
                else if (verb == QLatin1String("STOR"))
                    reply("150 send it");
                else if (verb == QLatin1String("RNFR"))
                    reply("350 go on");
                else if (verb == QLatin1String("RNTO"))
                    reply("250 renamed");
                else if (verb != QLatin1String("QUIT")) // the goodbye goes unanswered
                    reply("502 not here");
            }
        });
        if (m_mode != Mode::Silent)
            reply("220 ready");
    });
    QObject::connect(&data, &QTcpServer::newConnection, [&] {
        QTcpSocket* socket = data.nextPendingConnection();
        QObject::connect(socket, &QTcpSocket::readyRead, [this, socket] {
            const QMutexLocker lock(&m_mutex);
            m_stored += socket->readAll();
        });
        QObject::connect(socket, &QTcpSocket::disconnected, [&] {
            if (session)
                confirm();
        });
    });
    control.listen(QHostAddress::LocalHost);
    data.listen(QHostAddress::LocalHost);
    m_port = control.serverPort();
    m_ready.release();
    exec();
}
