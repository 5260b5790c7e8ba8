#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include <QHostAddress>
#include <QString>

#include "doors/accesspolicy.h"
#include "doors/connectionlimit.h"
#include "log/throttledline.h"

class ActivityLog;

// Who comes in, for every door of the request service: the address allow-list, the shared
// connection cap and the refusal lines, each kind logged at most once a second with a count.
// It also keeps the spare descriptor that lets a door turn a client away, and log it, when
// the process has no other descriptor left.
class Admission final
{
public:
    // The longest part of a refused page's origin that the log shows.
    static constexpr int kMaxLoggedOriginChars = 256;

    // Refusals and the connections let in are told to `telemetry`. `capName` names the cap in
    // the line of a connection over it.
    Admission(ActivityLog& log, AccessPolicy access, ConnectionLimit& limit,
              Telemetry& telemetry = Telemetry::none(),
              QString capName = QStringLiteral("MaxConnections"));
    ~Admission();
    Admission(const Admission&) = delete;
    Admission& operator=(const Admission&) = delete;

    // A connection just accepted from `peer` at `door`: its place under the cap, or nothing
    // (the refusal logged) when the allow-list leaves the peer out or the cap is reached.
    std::optional<CapPlace> admit(const QHostAddress& peer, Door door);
    // A page whose origin is not listed was turned away.
    void refuseOrigin(const QString& origin, const QHostAddress& peer);
    // Accepting a connection failed with `error` (an errno value).
    void acceptFailed(int error);
    // A connection at `door` from `peer` ended in its TLS handshake or WebSocket upgrade, for
    // `why`: counted, and logged at most once a second for each door.
    void handshakeFailed(Door door, const QString& peer, const QString& why);
    // A connection at `door` from `peer` sent nothing for `seconds` and was closed; logged at
    // most once a second for each door.
    void closedIdle(Door door, const QString& peer, int seconds);
    // A connection at `door` from `peer` brought no till's key within `seconds`, where every
    // request needs one, and was closed; logged like the idle closes.
    void closedWithoutKey(Door door, const QString& peer, int seconds);

    // Runs `work` with the spare descriptor closed, so that it has one to use, then opens the
    // spare again. Returns whether there was a spare to close.
    bool withSpareFreed(const std::function<void()>& work);
    // Opens the spare again if it could not be reopened before.
    void keepSpare();
    // Writes a log line, with the spare freed for the log file.
    void log(const QString& line);

private:
    ActivityLog& m_log;
    AccessPolicy m_access;
    ConnectionLimit& m_limit;
    Telemetry& m_telemetry;
    int m_spareDescriptor = -1;
    ThrottledLine m_unlisted;
    ThrottledLine m_overCap;
    ThrottledLine m_origins;
    QString m_capName;
    // By door, made at a door's first such event.
    std::array<std::unique_ptr<ThrottledLine>, 4> m_handshakeFailures;
    std::array<std::unique_ptr<ThrottledLine>, 4> m_idleCloses;
    std::array<std::unique_ptr<ThrottledLine>, 4> m_keylessCloses;
};

// The word that starts a door's log lines: "Socket", "WebSocket", "TLS" or "Metrics".
QString doorLogName(Door door);
