#include "request/requestserver.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "core/livesettings.h"
#include "log/activitylog.h"
#include "request/connectionlimit.h"
#include "request/listenport.h"
#include "request/peeraddress.h"
#include "request/requestservice.h"

namespace {

int openSpareDescriptor()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

bool isOutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

RequestServer::RequestServer(ActivityLog& log, LiveSettings& settings, RequestService& service,
                             ConnectionLimit& limit, QObject* parent, Telemetry& telemetry)
    : QObject(parent), m_log(log), m_settings(settings), m_service(service), m_limit(limit),
      m_telemetry(telemetry), m_listener(new QTcpServer(this)),
      m_refusals([this](const QString& line) { logWithSpareFreed(line); }, this),
      m_spareDescriptor(openSpareDescriptor())
{
    m_acceptPause.setSingleShot(true);
    connect(&m_acceptPause, &QTimer::timeout, this, &RequestServer::resumeAccepting);
}

RequestServer::~RequestServer()
{
    if (m_spareDescriptor >= 0)
        ::close(m_spareDescriptor);
}

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
    // The listener only listens; this server accepts on its descriptor.
    m_listener->pauseAccepting();
    m_accepting.setSocket(m_listener->socketDescriptor());
    connect(&m_accepting, &QSocketNotifier::activated, this,
            &RequestServer::socket_ConnectionRequest);
    m_accepting.setEnabled(true);
    m_log.log(QStringLiteral("Socket: Listening Port ") + QString::number(*port));
    if (!m_settings.bindAddress().trimmed().isEmpty())
        m_log.log(QStringLiteral("Socket: Listening Address ") + address->toString());
    fitCapToFileLimit();
    return true;
}

void RequestServer::fitCapToFileLimit()
{
    struct rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return;
    const rlim_t room =
        files.rlim_cur > rlim_t(kReservedDescriptors) ? files.rlim_cur - kReservedDescriptors : 1;
    if (rlim_t(m_limit.max()) <= room)
        return;
    m_log.log(QStringLiteral("Socket: MaxConnections=[") + QString::number(m_limit.max()) +
              QStringLiteral("] lowered to [") + QString::number(room) +
              QStringLiteral("] by the file limit [") + QString::number(files.rlim_cur) +
              QLatin1Char(']'));
    m_limit.setMax(int(room));
}

quint16 RequestServer::listeningPort() const
{
    return m_listener->isListening() ? m_listener->serverPort() : 0;
}

void RequestServer::socket_ConnectionRequest()
{
    const int listening = int(m_listener->socketDescriptor());
    for (;;) {
        const int descriptor = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error != EAGAIN && error != EWOULDBLOCK)
                acceptFailed(error);
            return;
        }
        // Who may connect is decided on the address alone, before anything is read.
        const QHostAddress peer = peerAddressOf(descriptor);
        if (!m_access.allows(peer)) {
            ::close(descriptor);
            m_telemetry.connectionRefused(RefusalReason::AllowList);
            logWithSpareFreed(QStringLiteral("Socket: Refused ") + addressText(peer));
            continue;
        }
        if (!m_limit.admit()) {
            ::close(descriptor);
            m_telemetry.connectionRefused(RefusalReason::Cap);
            m_refusals.refused(QStringLiteral("MaxConnections ") + QString::number(m_limit.max()) +
                               QStringLiteral(" reached"));
            continue;
        }
        auto socket = std::make_unique<QTcpSocket>();
        if (!socket->setSocketDescriptor(descriptor)) {
            ::close(descriptor);
            m_limit.release();
            socket_Error();
            continue;
        }
        addConnection(socket.release());
    }
}

void RequestServer::acceptFailed(int error)
{
    const QString reason = QString::fromLocal8Bit(std::strerror(error));
    m_refusals.refused(reason);
    // The spare makes room to take each waiting client and close it at once, so that it is
    // told rather than left waiting until it gives up.
    while (isOutOfDescriptors(error) && m_spareDescriptor >= 0) {
        ::close(m_spareDescriptor);
        const int descriptor = ::accept4(int(m_listener->socketDescriptor()), nullptr, nullptr,
                                         SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor >= 0)
            ::close(descriptor);
        m_spareDescriptor = openSpareDescriptor();
        if (descriptor < 0)
            break;
        m_refusals.refused(reason);
    }
    pauseAccepting();
}

void RequestServer::logWithSpareFreed(const QString& line)
{
    // Out of descriptors, the log could not be opened: the spare gives it one.
    const bool freed = m_spareDescriptor >= 0;
    if (freed)
        ::close(m_spareDescriptor);
    m_log.log(line);
    if (freed)
        m_spareDescriptor = openSpareDescriptor();
}

void RequestServer::pauseAccepting()
{
    // Trying again at once would only fail again, at full speed.
    m_accepting.setEnabled(false);
    m_acceptPause.start(kAcceptPauseMs);
}

void RequestServer::resumeAccepting()
{
    if (m_spareDescriptor < 0)
        m_spareDescriptor = openSpareDescriptor();
    m_accepting.setEnabled(true);
}

void RequestServer::addConnection(QTcpSocket* socket)
{
    auto* connection = new ClientConnection(socket, freeSlot(), this);
    m_log.log(QStringLiteral("Socket: ConnectionRequest ip=[") + connection->peerAddress() +
              QStringLiteral("] port=[") + QString::number(socket->peerPort()) + QLatin1Char(']'));
    ++m_sockCount;
    m_telemetry.connectionOpened(Door::Tcp);
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
                  connection->peerAddress() + QStringLiteral("] connection closed"));
        // abort() may announce the close at once; either way it is handled exactly once.
        connection->socket().abort();
        socket_Close(connection);
        return;
    }
    // The transaction runs from the event loop, not inside the socket's announcement: a socket
    // announces no new data while its announcement is being handled, and a request that
    // arrives on this connection while the transaction waits must run nested like any other.
    QMetaObject::invokeMethod(
        this,
        [this, target = QPointer<ClientConnection>(connection), address = connection->peerAddress(),
         bytes] { m_service.serve(target.data(), address, bytes); },
        Qt::QueuedConnection);
}

void RequestServer::socket_Close(ClientConnection* connection)
{
    if (connection->isClosed())
        return;
    connection->markClosed();
    m_log.log(QStringLiteral("Socket: Close ") + connection->peerAddress());
    m_slots.remove(connection->slot());
    --m_sockCount;
    m_limit.release();
    m_telemetry.connectionClosed(Door::Tcp);
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
