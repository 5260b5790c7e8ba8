#include "metrics/servicenotifier.h"

#include <systemd/sd-daemon.h>

namespace {

// The status line is one line, whatever it was given.
QByteArray oneLine(const QString& text)
{
    QByteArray line = text.toUtf8();
    line.replace('\n', ' ');
    line.replace('\r', ' ');
    return line;
}

} // namespace

ServiceNotifier::ServiceNotifier(QObject* parent) : QObject(parent)
{
    uint64_t watchdogUsec = 0;
    // Half the interval leaves a beat to spare before systemd gives up on the service.
    if (sd_watchdog_enabled(0, &watchdogUsec) > 0 && watchdogUsec > 0)
        m_beatIntervalMs = int(qBound<uint64_t>(1, watchdogUsec / 2000, 24 * 3600 * 1000));
    connect(&m_beat, &QTimer::timeout, this, [this] { send("WATCHDOG=1"); });
}

void ServiceNotifier::ready(const QString& status)
{
    send("READY=1\nSTATUS=" + oneLine(status));
    if (m_beatIntervalMs > 0) {
        send("WATCHDOG=1");
        m_beat.start(m_beatIntervalMs);
    }
}

void ServiceNotifier::status(const QString& status)
{
    send("STATUS=" + oneLine(status));
}

void ServiceNotifier::stopping()
{
    m_beat.stop();
    send("STOPPING=1");
}

void ServiceNotifier::send(const QByteArray& state)
{
    // Without NOTIFY_SOCKET this does nothing.
    sd_notify(0, state.constData());
}
