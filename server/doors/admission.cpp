#include "doors/admission.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "doors/peeraddress.h"
#include "log/activitylog.h"

namespace {

int openSpareDescriptor()
{
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

// The line of one door's kind of event, made the first time that it happens.
ThrottledLine& lineOf(std::unique_ptr<ThrottledLine>& line, Admission& admission,
                      const QString& prefix)
{
    if (!line)
        line = std::make_unique<ThrottledLine>(
            [&admission](const QString& text) { admission.log(text); },
            [prefix](int count, const QString& detail) {
                return ThrottledLine::withCount(prefix + detail, count);
            });
    return *line;
}

} // namespace

QString doorLogName(Door door)
{
    switch (door) {
    case Door::Tcp:
        return QStringLiteral("Socket");
    case Door::WebSocket:
        return QStringLiteral("WebSocket");
    case Door::Tls:
        return QStringLiteral("TLS");
    case Door::Metrics:
        break;
    }
    return QStringLiteral("Metrics");
}

Admission::Admission(ActivityLog& log, AccessPolicy access, ConnectionLimit& limit,
                     Telemetry& telemetry, QString capName)
    : m_log(log), m_access(std::move(access)), m_limit(limit), m_telemetry(telemetry),
      m_spareDescriptor(openSpareDescriptor()),
      m_unlisted([this](const QString& line) { this->log(line); },
                 [](int count, const QString& address) {
                     return ThrottledLine::withCount(QStringLiteral("Socket: Refused ") + address,
                                                     count);
                 }),
      m_overCap([this](const QString& line) { this->log(line); },
                [](int count, const QString& reason) {
                    return QStringLiteral("Socket: ConnectionRequest Refused count=[") +
                           QString::number(count) + QStringLiteral("] reason=[") + reason +
                           QLatin1Char(']');
                }),
      m_origins([this](const QString& line) { this->log(line); },
                [](int count, const QString& originAndAddress) {
                    return ThrottledLine::withCount(
                        QStringLiteral("WebSocket: Refused ") + originAndAddress, count);
                }),
      m_capName(std::move(capName))
{
}

Admission::~Admission()
{
    if (m_spareDescriptor >= 0)
        ::close(m_spareDescriptor);
}

std::optional<CapPlace> Admission::admit(const QHostAddress& peer, Door door)
{
    // Who may connect is decided on the address alone, before anything is read.
    if (!m_access.allows(peer)) {
        m_telemetry.connectionRefused(RefusalReason::AllowList);
        m_unlisted.happened(addressText(peer));
        return std::nullopt;
    }
    if (!m_limit.admit()) {
        m_telemetry.connectionRefused(RefusalReason::Cap);
        m_overCap.happened(m_capName + QLatin1Char(' ') + QString::number(m_limit.max()) +
                           QStringLiteral(" reached"));
        return std::nullopt;
    }
    return CapPlace(m_limit, m_telemetry, door);
}

void Admission::refuseOrigin(const QString& origin, const QHostAddress& peer)
{
    m_telemetry.connectionRefused(RefusalReason::Origin);
    m_origins.happened(QStringLiteral("origin=[") + origin.left(kMaxLoggedOriginChars) +
                       QStringLiteral("] ip=[") + addressText(peer) + QLatin1Char(']'));
}

void Admission::acceptFailed(int error)
{
    m_overCap.happened(QString::fromLocal8Bit(std::strerror(error)));
}

void Admission::handshakeFailed(Door door, const QString& peer, const QString& why)
{
    m_telemetry.handshakeFailed(door);
    lineOf(m_handshakeFailures[int(door)], *this,
           doorLogName(door) + QStringLiteral(": Handshake Failed "))
        .happened(QStringLiteral("ip=[") + peer + QStringLiteral("] reason=[") + why +
                  QLatin1Char(']'));
}

void Admission::closedIdle(Door door, const QString& peer, int seconds)
{
    lineOf(m_idleCloses[int(door)], *this, doorLogName(door) + QStringLiteral(": Close Idle "))
        .happened(QStringLiteral("ip=[") + peer + QStringLiteral("] seconds=[") +
                  QString::number(seconds) + QLatin1Char(']'));
}

void Admission::closedWithoutKey(Door door, const QString& peer, int seconds)
{
    lineOf(m_keylessCloses[int(door)], *this, doorLogName(door) + QStringLiteral(": Close No Key "))
        .happened(QStringLiteral("ip=[") + peer + QStringLiteral("] seconds=[") +
                  QString::number(seconds) + QLatin1Char(']'));
}

bool Admission::withSpareFreed(const std::function<void()>& work)
{
    const bool freed = m_spareDescriptor >= 0;
    if (freed)
        ::close(m_spareDescriptor);
    m_spareDescriptor = -1;
    work();
    m_spareDescriptor = openSpareDescriptor();
    return freed;
}

void Admission::keepSpare()
{
    if (m_spareDescriptor < 0)
        m_spareDescriptor = openSpareDescriptor();
}

void Admission::log(const QString& line)
{
    // Out of descriptors, the log could not be opened: the spare gives it one.
    withSpareFreed([this, &line] { m_log.log(line); });
}
