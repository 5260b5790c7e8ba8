// Measures PIN requests against varnel-pinpad on a pseudo-terminal: the time from a request to
// its reply when the pad answers at once, and VERSION round trips from a second client while a
// PIN entry waits for a customer who never finishes, against the same with nothing waiting.
//
//   build/bin/pinpad_bench [--requests N]

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "latencies.h"
#include "loopbackclient.h"
#include "serverprocess.h"

namespace {

using namespace LoopbackClient;

using SteadyClock = std::chrono::steady_clock;

const QByteArray kPinRequest = "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=12.34;";
// Every reply with a PIN block has the length of this one.
const QByteArray kPinReply = "<1000SE><PINBLOCK>1B9C1845EB993A7A</PINBLOCK>"
                             "<KSN>FFFF9876543210E00001</KSN></1000SE>";
const QByteArray kCancelled = "<1000SE><CANCEL>1</CANCEL></1000SE>";

// Reads until `length` bytes came; false when the connection ended or went quiet first.
bool receive(int fd, qsizetype length, QByteArray* reply = nullptr)
{
    QByteArray received;
    char buffer[256];
    while (received.size() < length) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received.append(buffer, int(n));
    }
    if (reply)
        *reply = received;
    return true;
}

// varnel-pinpad on a link in `folder`, until the end of the run.
class Simulator
{
public:
    Simulator(const QString& link, const QStringList& arguments)
    {
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/varnel-pinpad"),
                        QStringList{QStringLiteral("--link"), link} + arguments);
        m_ready = m_process.waitForStarted(5000) && m_process.waitForReadyRead(5000) &&
                  m_process.readLine().startsWith("ready ");
    }
    ~Simulator()
    {
        m_process.terminate();
        m_process.waitForFinished(5000);
    }
    bool ready() const { return m_ready; }

private:
    QProcess m_process;
    bool m_ready = false;
};

// The server with the 1000SE on COM1, which names `link`.
QString settingsFor(const QString& link)
{
    return QStringLiteral("[1000SE]\r\n1000SEDevice=1\r\n1000SECommPort=1\r\n[SerialPorts]\r\n"
                          "COM1=%1\r\n")
        .arg(link);
}

Latencies pinRoundTrips(quint16 port, int count)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const auto start = SteadyClock::now();
        QByteArray reply;
        if (!sendAll(fd, kPinRequest) || !receive(fd, kPinReply.size(), &reply) ||
            !reply.startsWith("<1000SE><PINBLOCK>") || !reply.endsWith("</KSN></1000SE>"))
            break;
        times.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count());
    }
    ::close(fd);
    return int(times.size()) == count ? summarise(times) : Latencies{};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int requests = 200;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--requests"));
    if (at > 0 && at + 1 < args.size())
        requests = std::clamp(args.at(at + 1).toInt(), 10, 100000);
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    QTemporaryDir folder;
    bool ok = true;

    std::printf("PIN requests, the pad answering at once (--delay 0), %d requests\n", requests);
    Latencies pin;
    {
        const QString link = folder.filePath(QStringLiteral("answering"));
        Simulator pad(link, {QStringLiteral("--delay"), QStringLiteral("0")});
        ServerProcess server(settingsFor(link));
        if (!pad.ready() || !server.start()) {
            std::fprintf(stderr, "pinpad_bench: the pad or the server did not start\n");
            return 1;
        }
        pin = pinRoundTrips(server.port(), requests);
        printLatencies("request to reply:", pin);
        server.stop();
    }
    std::printf("  target: median under 50 ms: %s\n",
                pin.ok && pin.medianMs < 50.0 ? "met" : "missed");
    ok = ok && pin.ok;

    std::printf("VERSION round trips on a second connection, %d requests\n", requests * 5);
    Latencies waiting;
    {
        const QString link = folder.filePath(QStringLiteral("silent"));
        Simulator pad(link, {QStringLiteral("--silent")});
        ServerProcess server(settingsFor(link));
        if (!pad.ready() || !server.start()) {
            std::fprintf(stderr, "pinpad_bench: the pad or the server did not start\n");
            return 1;
        }
        const Latencies idle = timeVersionRoundTrips(server.port(), requests * 5, 0);
        printLatencies("nothing waiting:", idle);

        // A PIN entry with a four-second limit of its own that the customer never finishes.
        const int pinFd = connectTo(server.port());
        if (pinFd < 0 || !sendAll(pinFd, "TIMER=4;" + kPinRequest) ||
            !server.waitForLogEntry(QStringLiteral("pinPad1000se_get_pin: initialized"))) {
            std::fprintf(stderr, "pinpad_bench: the PIN entry did not start\n");
            return 1;
        }
        QThread::msleep(100);
        waiting = timeVersionRoundTrips(server.port(), requests * 5, 0);
        printLatencies("while a PIN entry waits:", waiting);

        // The entry's own limit ends it with the cancel.
        QByteArray reply;
        const bool cancelled = receive(pinFd, kCancelled.size(), &reply) && reply == kCancelled;
        ::close(pinFd);
        server.stop();
        std::printf("  the waiting PIN entry then ended with the cancelled reply: %s\n",
                    cancelled ? "yes" : "no");
        ok = ok && idle.ok && cancelled;
    }
    std::printf("  target: median under 5 ms while a PIN entry waits: %s\n",
                waiting.ok && waiting.medianMs < 5.0 ? "met" : "missed");
    return ok && waiting.ok ? 0 : 1;
}
