// The systemd notifications, read from the test's own datagram socket as systemd would.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QList>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTimer>

#include "metrics/servicenotifier.h"
#include "watchdogbeats.h"

namespace {

// A datagram socket standing where systemd's would, and NOTIFY_SOCKET pointing at it.
class NotifySocket
{
public:
    NotifySocket()
    {
        m_path = m_dir.filePath(QStringLiteral("notify")).toLocal8Bit();
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, m_path.constData(), sizeof(address.sun_path) - 1);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(m_fd); }
    bool bound() const { return m_bound; }
    const QByteArray& path() const { return m_path; }

    // The messages that arrive while the event loop runs for `ms`, with when each came.
    QList<QPair<qint64, QByteArray>> collect(int ms)
    {
        QList<QPair<qint64, QByteArray>> messages;
        QElapsedTimer clock;
        clock.start();
        QSocketNotifier readable(m_fd, QSocketNotifier::Read);
        QObject::connect(&readable, &QSocketNotifier::activated, [&] {
            char buffer[4096];
            ssize_t n;
            while ((n = ::recv(m_fd, buffer, sizeof(buffer), 0)) > 0)
                messages.append({clock.elapsed(), QByteArray(buffer, n)});
        });
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
        return messages;
    }

private:
    QTemporaryDir m_dir;
    QByteArray m_path;
    int m_fd = -1;
    bool m_bound = false;
};

} // namespace

TEST(ServiceNotifierTest, ReadyBeatsAtHalfTheIntervalAndStopping)
{
    NotifySocket systemd;
    ASSERT_TRUE(systemd.bound());
    qputenv("NOTIFY_SOCKET", systemd.path());
    qputenv("WATCHDOG_USEC", "1000000");
    qunsetenv("WATCHDOG_PID");
    ServiceNotifier notifier;
    EXPECT_EQ(notifier.beatIntervalMs(), 500);
    // Nothing before the service listens.
    EXPECT_TRUE(systemd.collect(300).isEmpty());

    notifier.ready(QStringLiteral("port 4444\nQP6100 ready"));
    const QList<QPair<qint64, QByteArray>> running = systemd.collect(3100);
    ASSERT_FALSE(running.isEmpty());
    EXPECT_EQ(running.first().second, "READY=1\nSTATUS=port 4444 QP6100 ready");
    QList<qint64> beats;
    for (const auto& [when, message] : running.mid(1)) {
        EXPECT_EQ(message, "WATCHDOG=1");
        beats << when;
    }
    expectBeatsAtHalfTheInterval(running.first().first, beats, 1000);

    notifier.status(QStringLiteral("QP6100 busy"));
    notifier.stopping();
    // A beat sent as the collection above ended may still wait in the socket; after STOPPING
    // nothing more comes.
    QList<QByteArray> ending;
    for (const auto& [when, message] : systemd.collect(700))
        ending << message;
    if (ending.value(0) == "WATCHDOG=1")
        ending.removeFirst();
    EXPECT_EQ(ending, (QList<QByteArray>{"STATUS=QP6100 busy", "STOPPING=1"}));
    qunsetenv("NOTIFY_SOCKET");
    qunsetenv("WATCHDOG_USEC");
}

TEST(ServiceNotifierTest, WithoutNotifySocketNothingIsSentAndNothingBeats)
{
    NotifySocket systemd;
    ASSERT_TRUE(systemd.bound());
    qunsetenv("NOTIFY_SOCKET");
    qputenv("WATCHDOG_USEC", "400000");
    ServiceNotifier notifier;
    notifier.ready(QStringLiteral("ready"));
    notifier.stopping();
    EXPECT_TRUE(systemd.collect(500).isEmpty());
    qunsetenv("WATCHDOG_USEC");
}
