#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

// Tells systemd how the service is (sd_notify): READY=1 once it listens, WATCHDOG=1 from the
// event loop at half the interval that systemd asks for, so that a loop that hangs gets the
// service restarted, a one-line STATUS=, and STOPPING=1 at shut-down. Sends nothing when
// systemd did not start the program (NOTIFY_SOCKET unset).
class ServiceNotifier : public QObject
{
    Q_OBJECT

public:
    explicit ServiceNotifier(QObject* parent = nullptr);

    // The service listens: READY=1 with `status`, and the watchdog's beats start.
    void ready(const QString& status);
    void status(const QString& status);
    // The service is shutting down; the beats stop.
    void stopping();
    // The time between two beats; 0 when systemd watches nothing.
    int beatIntervalMs() const { return m_beatIntervalMs; }

private:
    void send(const QByteArray& state);

    QTimer m_beat;
    int m_beatIntervalMs = 0;
};
