#include "pageserver.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QSslServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

PageServer::PageServer(QByteArray page)
    : m_server(std::make_unique<QTcpServer>()), m_page(std::move(page))
{
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &PageServer::takeConnections);
}

void PageServer::setTls(QSslConfiguration tls, QString host)
{
    auto server = std::make_unique<QSslServer>();
    server->setSslConfiguration(tls);
    // The browser may give up on a handshake it does not trust: the connection just ends.
    m_server = std::move(server);
    m_host = std::move(host);
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this,
            &PageServer::takeConnections);
}

void PageServer::takeConnections()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_received.remove(socket);
            socket->deleteLater();
        });
    }
}

PageServer::~PageServer()
{
    // Open sockets announce their close while the listener frees them, after this object's
    // members are gone: nothing of theirs may reach it any more.
    for (QTcpSocket* socket : m_server->findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

bool PageServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

QString PageServer::origin() const
{
    if (!m_host.isEmpty())
        return QStringLiteral("https://%1:%2").arg(m_host).arg(m_server->serverPort());
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server->serverPort());
}

std::optional<QByteArray> PageServer::waitForReport(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_report && !deadline.hasExpired()) {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return m_report;
}

void PageServer::serve(QTcpSocket* socket)
{
    QByteArray& received = m_received[socket];
    received += socket->readAll();
    const qsizetype headerEnd = received.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QByteArray header = received.left(headerEnd);
    qsizetype bodyLength = 0;
    for (const QByteArray& line : header.split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            bodyLength = line.mid(15).trimmed().toLongLong();
    }
    if (received.size() < headerEnd + 4 + bodyLength)
        return;
    const QList<QByteArray> requestLine = header.left(header.indexOf('\r')).split(' ');
    const QByteArray body = received.mid(headerEnd + 4, bodyLength);
    received.clear();
    const QByteArray path = requestLine.value(1);

    if (path == "/") {
        respond(socket, "200 OK", "text/html", m_page);
    } else if (path == "/varnel.js") {
        QFile module(QStringLiteral(VARNEL_JS_CLIENT));
        module.open(QIODevice::ReadOnly);
        respond(socket, "200 OK", "text/javascript", module.readAll());
    } else if (path == "/report" && requestLine.value(0) == "POST") {
        m_report = body;
        respond(socket, "204 No Content", "text/plain", {});
    } else {
        respond(socket, "404 Not Found", "text/plain", "not here");
    }
}

void PageServer::respond(QTcpSocket* socket, const QByteArray& status, const QByteArray& type,
                         const QByteArray& body)
{
    socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type +
                  "\r\nCache-Control: no-store\r\nContent-Length: " +
                  QByteArray::number(body.size()) + "\r\n\r\n" + body);
}

HeadlessBrowser::~HeadlessBrowser()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    // Asked first, so that it ends its helper processes too.
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    // Its helper processes may still write into the profile for a moment after it ended.
    for (int attempt = 0; attempt < 20 && !m_profile.remove(); ++attempt)
        QThread::msleep(100);
}

bool HeadlessBrowser::open(const QString& url, const QStringList& arguments,
                           const QProcessEnvironment& environment)
{
    m_process.setProcessEnvironment(environment);
    // Chromium talks a lot on its standard streams; the page's report is what counts.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
    // As root Chromium runs only without its sandbox; the page is the test's own.
    const QStringList common{QStringLiteral("--headless=new"), QStringLiteral("--no-sandbox"),
                             QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                             QStringLiteral("--user-data-dir=") + m_profile.path()};
    m_process.start(QStringLiteral("/usr/bin/chromium"), common + arguments + QStringList{url});
    return m_process.waitForStarted(10000);
}
