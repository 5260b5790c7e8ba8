#include "request/requestserver.h"

#include <new>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include "core/failure.h"
#include "core/livesettings.h"
#include "log/activitylog.h"
#include "request/listenport.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestparser.h"

namespace {

// Peer addresses in dotted form, also for IPv4 clients of the dual-stack listener.
QString dottedAddress(const QHostAddress& address)
{
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4).toString() : address.toString();
}

} // namespace

RequestServer::RequestServer(ActivityLog& log, LiveSettings& settings, QString signaturesFolder,
                             QObject* parent)
    : QObject(parent), m_log(log), m_settings(settings),
      m_signaturesFolder(std::move(signaturesFolder)), m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &RequestServer::socket_ConnectionRequest);
}

RequestServer::~RequestServer()
{
    for (Connection* connection : std::as_const(m_slots))
        delete connection;
}

bool RequestServer::start_listening(QString* reason)
{
    QString why;
    const std::optional<quint16> port = parseListenPort(m_settings.txtSockport, &why);
    if (port && !m_listener->listen(QHostAddress::Any, *port))
        why = m_listener->errorString();
    if (!port || !m_listener->isListening()) {
        m_log.log(QStringLiteral("Socket: Listening Error port=[") + m_settings.txtSockport +
                  QStringLiteral("] ") + why);
        if (reason)
            *reason = why;
        return false;
    }
    m_log.log(QStringLiteral("Socket: Listening Port ") + QString::number(*port));
    return true;
}

quint16 RequestServer::listeningPort() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

void RequestServer::socket_ConnectionRequest()
{
    while (m_listener->hasPendingConnections()) {
        QTcpSocket* socket = m_listener->nextPendingConnection();
        auto* connection = new Connection;
        connection->socket = socket;
        connection->peerIp = dottedAddress(socket->peerAddress());
        m_log.log(QStringLiteral("Socket: ConnectionRequest ip=[") + connection->peerIp +
                  QStringLiteral("] port=[") + QString::number(socket->peerPort()) +
                  QLatin1Char(']'));
        ++m_sockCount;
        connection->slot = freeSlot();
        m_slots.insert(connection->slot, connection);

        // One byte beyond the limit is enough to tell an oversized receipt; the socket buffers
        // no more than that, whatever a client sends.
        socket->setReadBufferSize(kMaxRequestBytes + 1);
        connect(socket, &QTcpSocket::readyRead, this,
                [this, connection] { socket_DataArrival(connection); });
        connect(socket, &QTcpSocket::disconnected, this,
                [this, connection] { socket_Close(connection); });
        connect(socket, &QTcpSocket::errorOccurred, this,
                [this](QAbstractSocket::SocketError error) {
                    if (error != QAbstractSocket::RemoteHostClosedError)
                        socket_Error();
                });
    }
}

void RequestServer::socket_DataArrival(Connection* connection)
{
    if (connection->closed)
        return;
    const QByteArray bytes = connection->socket->readAll();
    if (bytes.isEmpty())
        return;
    if (bytes.size() > kMaxRequestBytes) {
        m_log.log(QStringLiteral("Socket: DataArrival Request Too Large bytes=[more than ") +
                  QString::number(kMaxRequestBytes) + QStringLiteral("] ip=[") +
                  connection->peerIp + QStringLiteral("] connection closed"));
        connection->socket->abort();
        socket_Close(connection);
        return;
    }
    // The transaction runs from the event loop, not inside the socket's announcement: a socket
    // announces no new data while its announcement is being handled, and a request that
    // arrives on this connection while the transaction waits must run nested like any other.
    ++connection->activeTransactions;
    QMetaObject::invokeMethod(
        this, [this, connection, bytes] { serve(connection, bytes); }, Qt::QueuedConnection);
}

void RequestServer::serve(Connection* connection, const QByteArray& bytes)
{
    // A request whose client closed right after sending still runs (an ABORT still counts);
    // only its replies fail.
    m_serving.append(connection);
    runTransaction(QString::fromLatin1(bytes));
    m_serving.removeLast();
    --connection->activeTransactions;
    finishWith(connection);
}

void RequestServer::runTransaction(const QString& text)
{
    m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    try {
        const ParsedRequest request = parseRequest(text, m_signaturesFolder);
        for (const QString& line : request.logLines)
            m_log.log(line);
        if (request.padTimeout)
            m_padTimeout = *request.padTimeout;
        if (request.outcome == ParsedRequest::Outcome::Failed)
            throw Failure(request.failureCode);
        if (request.outcome == ParsedRequest::Outcome::Parsed && m_dispatcher)
            m_dispatcher->dispatch(request.values);
        m_log.log(QStringLiteral("Socket: Transaction End ") + ActivityLog::log_separator());
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(failure.code()));
    } catch (const std::bad_alloc&) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(7));
    } catch (const std::exception&) {
        m_log.log(QStringLiteral("Socket: DataArrival ") + errorNumberText(51));
    }
}

void RequestServer::return_xml(QString& xml, bool skipDebug)
{
    xml = strRemoveNonPrintableChars(xml);
    m_log.log(skipDebug ? QStringLiteral("return_xml: skipDebug=true")
                        : QStringLiteral("return_xml: ") + xml);
    Connection* target = m_serving.isEmpty() ? nullptr : m_serving.last();
    if (!target || target->closed || target->socket->state() != QAbstractSocket::ConnectedState)
        throw Failure(FailureCode::ConnectionClosed);
    target->socket->write(xml.toLatin1());
    target->socket->flush();
}

void RequestServer::socket_Close(Connection* connection)
{
    if (connection->closed)
        return;
    connection->closed = true;
    m_log.log(QStringLiteral("Socket: Close ") + connection->peerIp);
    connection->socket->close();
    m_slots.remove(connection->slot);
    --m_sockCount;
    finishWith(connection);
}

void RequestServer::socket_Error()
{
    m_log.log(QStringLiteral("socket_error:"));
}

// Frees a closed connection once no transaction of its own is still running on the stack.
void RequestServer::finishWith(Connection* connection)
{
    if (!connection->closed || connection->activeTransactions > 0)
        return;
    connection->socket->disconnect(this);
    connection->socket->deleteLater();
    delete connection;
}

int RequestServer::freeSlot() const
{
    int slot = 1;
    while (m_slots.contains(slot))
        ++slot;
    return slot;
}
