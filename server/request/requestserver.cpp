#include "request/requestserver.h"

#include <new>

#include <QTcpServer>
#include <QTcpSocket>

#include "core/failure.h"
#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "request/listenport.h"
#include "request/peeraddress.h"
#include "request/replytext.h"
#include "request/requestdispatcher.h"
#include "request/requestparser.h"

RequestServer::RequestServer(ActivityLog& log, LiveSettings& settings, PadTimeout& padTimeout,
                             QString signaturesFolder, QObject* parent)
    : QObject(parent), m_log(log), m_settings(settings),
      m_signaturesFolder(std::move(signaturesFolder)), m_padTimeout(padTimeout),
      m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &RequestServer::socket_ConnectionRequest);
}

RequestServer::~RequestServer() = default;

bool RequestServer::start_listening(QString* reason)
{
    QString why;
    const std::optional<quint16> port = parseListenPort(m_settings.txtSockport(), &why);
    const std::optional<QHostAddress> address =
        port ? parseBindAddress(m_settings.bindAddress(), &why) : std::nullopt;
    if (address && !m_listener->listen(*address, *port))
        why = m_listener->errorString();
    if (!address || !m_listener->isListening()) {
        m_log.log(QStringLiteral("Socket: Listening Error port=[") + m_settings.txtSockport() +
                  QStringLiteral("] ") + why);
        if (reason)
            *reason = why;
        return false;
    }
    m_log.log(QStringLiteral("Socket: Listening Port ") + QString::number(*port));
    if (!m_settings.bindAddress().trimmed().isEmpty())
        m_log.log(QStringLiteral("Socket: Listening Address ") + address->toString());
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
        if (!m_access.allows(socket->peerAddress())) {
            m_log.log(QStringLiteral("Socket: Refused ") + addressText(socket->peerAddress()));
            // Closed before anything of it is read; the listener owns it until then.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto* connection = new ClientConnection(socket, freeSlot(), this);
        m_log.log(QStringLiteral("Socket: ConnectionRequest ip=[") + connection->peerIp() +
                  QStringLiteral("] port=[") + QString::number(socket->peerPort()) +
                  QLatin1Char(']'));
        ++m_sockCount;
        m_slots.insert(connection->slot(), connection);

        // One byte beyond the limit is enough to tell an oversized receipt; the socket buffers
        // no more than that, whatever a client sends.
        socket->setReadBufferSize(kMaxRequestBytes + 1);
        connect(socket, &QTcpSocket::readyRead, connection,
                [this, connection] { socket_DataArrival(connection); });
        connect(socket, &QTcpSocket::disconnected, connection,
                [this, connection] { socket_Close(connection); });
        connect(socket, &QTcpSocket::errorOccurred, connection,
                [this](QAbstractSocket::SocketError error) {
                    if (error != QAbstractSocket::RemoteHostClosedError)
                        socket_Error();
                });
    }
}

void RequestServer::socket_DataArrival(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    const QByteArray bytes = connection->socket().readAll();
    if (bytes.isEmpty())
        return;
    if (bytes.size() > kMaxRequestBytes) {
        m_log.log(QStringLiteral("Socket: DataArrival Request Too Large bytes=[more than ") +
                  QString::number(kMaxRequestBytes) + QStringLiteral("] ip=[") +
                  connection->peerIp() + QStringLiteral("] connection closed"));
        // abort() may announce the close at once; either way it is handled exactly once.
        connection->socket().abort();
        socket_Close(connection);
        return;
    }
    // The transaction runs from the event loop, not inside the socket's announcement: a socket
    // announces no new data while its announcement is being handled, and a request that
    // arrives on this connection while the transaction waits must run nested like any other.
    QMetaObject::invokeMethod(
        this, [this, target = QPointer(connection), bytes] { serve(target.data(), bytes); },
        Qt::QueuedConnection);
}

void RequestServer::serve(Requester* requester, const QByteArray& bytes)
{
    // A request whose client closed right after sending still runs (an ABORT still counts);
    // only its replies fail.
    m_serving.append(requester);
    runTransaction(QString::fromLatin1(bytes));
    m_serving.removeLast();
}

void RequestServer::runTransaction(const QString& text)
{
    m_log.log(QStringLiteral("Socket: Transaction Start ") + ActivityLog::log_separator());
    try {
        const ParsedRequest request = parseRequest(text, m_signaturesFolder);
        for (const QString& line : request.logLines)
            m_log.log(line);
        if (request.padTimeout)
            m_padTimeout.setSeconds(*request.padTimeout);
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
    Requester* target = m_serving.isEmpty() ? nullptr : m_serving.last().data();
    if (!target || !target->isConnected())
        throw Failure(FailureCode::ConnectionClosed);
    // A send to a peer that has gone may announce the close inside it; the requester then
    // stays until the event loop frees it, and nothing here touches it afterwards.
    target->send(xml.toLatin1());
}

void RequestServer::socket_Close(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    connection->markClosed();
    m_log.log(QStringLiteral("Socket: Close ") + connection->peerIp());
    m_slots.remove(connection->slot());
    --m_sockCount;
    // Nothing of the socket reaches this server any more, whatever close() announces.
    connection->socket().disconnect(this);
    connection->socket().disconnect(connection);
    connection->socket().close();
    connection->deleteLater();
}

void RequestServer::socket_Error()
{
    m_log.log(QStringLiteral("socket_error:"));
}

int RequestServer::freeSlot() const
{
    int slot = 1;
    while (m_slots.contains(slot))
        ++slot;
    return slot;
}
