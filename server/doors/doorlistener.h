#pragma once

#include <functional>
#include <optional>

#include <QHostAddress>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include "doors/connectionlimit.h"

class ActivityLog;
class Admission;
class QTcpServer;

// The listening half that every door shares: opens its port at the `[Local] bindAddress` and
// logs the outcome under the door's name, accepts each connection itself, lets the admission turn
// it away or give it a place under the cap, and hands the admitted ones to its door. Out of
// descriptors it turns waiting clients away with the admission's spare and pauses accepting for a
// quarter of a second, where Qt's own accepting would retry at once, without end.
class DoorListener final : public QObject
{
public:
    // After an accept fails for want of descriptors, accepting pauses this long.
    static constexpr int kAcceptPauseMs = 250;
    // An admitted connection: its descriptor, now the door's to close, and its place under the
    // cap.
    using Admitted = std::function<void(qintptr descriptor, CapPlace place)>;

    // `logName` starts the door's log lines ("Socket", "WebSocket", "Metrics").
    DoorListener(ActivityLog& log, QString logName, Admission& admission, Door door,
                 Admitted admitted, QObject* parent = nullptr);
    ~DoorListener() override;

    // Listens on the port that `portField` names, at `bindAddress` (empty: every address of
    // this machine). Returns the port and address listened on, or nothing with the reason.
    struct Listening
    {
        quint16 port;
        QHostAddress address;
    };
    // Logs "<name>: Listening Port N" followed by `note`, or on failure
    // "<name>: Listening Error port=[<portField>] <reason>".
    std::optional<Listening> open(const QString& portField, const QString& bindAddress,
                                  QString* reason, const QString& note = {});
    // A failure found before listening (a TLS file that cannot be used), logged as open()
    // logs its own.
    void refuse(const QString& portField, const QString& why, QString* reason);
    // The port listened on, 0 before listening.
    quint16 port() const;

private:
    void acceptPending();
    // Out of descriptors all the same (something else holds them): waiting clients are closed
    // and accepting pauses.
    void acceptFailed(int error);
    void resumeAccepting();

    ActivityLog& m_log;
    QString m_logName;
    Admission& m_admission;
    Door m_door;
    Admitted m_admitted;
    // Only listens; this object accepts on its descriptor.
    QTcpServer* m_server;
    // Watches the listening descriptor; a member, so it is gone before the server (a child)
    // closes that descriptor.
    QSocketNotifier m_accepting{QSocketNotifier::Read};
    QTimer m_acceptPause;
};
