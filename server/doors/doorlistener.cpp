#include "doors/doorlistener.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include <QTcpServer>

#include "doors/admission.h"
#include "doors/listenport.h"
#include "doors/peeraddress.h"
#include "log/activitylog.h"

namespace {

bool isOutOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

int acceptOne(qintptr listening)
{
    return ::accept4(int(listening), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

} // namespace

DoorListener::DoorListener(ActivityLog& log, QString logName, Admission& admission, Door door,
                           Admitted admitted, QObject* parent)
    : QObject(parent), m_log(log), m_logName(std::move(logName)), m_admission(admission),
      m_door(door), m_admitted(std::move(admitted)), m_server(new QTcpServer(this))
{
    m_acceptPause.setSingleShot(true);
    // Lambdas, not member slots: these run with every descriptor in use, when the
    // undefined-behaviour checker cannot check a slot receiver's type (it needs a pipe).
    connect(&m_acceptPause, &QTimer::timeout, this, [this] { resumeAccepting(); });
    connect(&m_accepting, &QSocketNotifier::activated, this, [this] { acceptPending(); });
}

DoorListener::~DoorListener() = default;

std::optional<DoorListener::Listening> DoorListener::open(const QString& portField,
                                                          const QString& bindAddress,
                                                          QString* reason, const QString& note)
{
    QString why;
    const std::optional<quint16> port = parseListenPort(portField, &why);
    const std::optional<QHostAddress> address =
        port ? parseBindAddress(bindAddress, &why) : std::nullopt;
    if (address && !m_server->listen(*address, *port))
        why = m_server->errorString();
    if (!address || !m_server->isListening()) {
        refuse(portField, why, reason);
        return std::nullopt;
    }
    m_server->pauseAccepting();
    m_accepting.setSocket(m_server->socketDescriptor());
    m_accepting.setEnabled(true);
    m_log.log(m_logName + QStringLiteral(": Listening Port ") + QString::number(*port) + note);
    return Listening{*port, *address};
}

void DoorListener::refuse(const QString& portField, const QString& why, QString* reason)
{
    m_log.log(m_logName + QStringLiteral(": Listening Error port=[") + portField +
              QStringLiteral("] ") + why);
    if (reason)
        *reason = why;
}

quint16 DoorListener::port() const
{
    return m_server->isListening() ? m_server->serverPort() : 0;
}

void DoorListener::acceptPending()
{
    for (;;) {
        const int descriptor = acceptOne(m_server->socketDescriptor());
        if (descriptor < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED)
                continue;
            if (error != EAGAIN && error != EWOULDBLOCK)
                acceptFailed(error);
            return;
        }
        std::optional<CapPlace> place = m_admission.admit(peerAddressOf(descriptor), m_door);
        if (!place) {
            ::close(descriptor);
            continue;
        }
        m_admitted(descriptor, std::move(*place));
    }
}

void DoorListener::acceptFailed(int error)
{
    m_admission.acceptFailed(error);
    // The spare makes room to take each waiting client and close it at once, so that it is
    // told rather than left waiting until it gives up.
    bool tookOne = isOutOfDescriptors(error);
    while (tookOne) {
        tookOne = false;
        const bool spareFreed = m_admission.withSpareFreed([this, &tookOne] {
            const int descriptor = acceptOne(m_server->socketDescriptor());
            if (descriptor >= 0) {
                ::close(descriptor);
                tookOne = true;
            }
        });
        if (tookOne)
            m_admission.acceptFailed(error);
        tookOne = tookOne && spareFreed;
    }
    // Trying again at once would only fail again, at full speed.
    m_accepting.setEnabled(false);
    m_acceptPause.start(kAcceptPauseMs);
}

void DoorListener::resumeAccepting()
{
    m_admission.keepSpare();
    m_accepting.setEnabled(true);
}
