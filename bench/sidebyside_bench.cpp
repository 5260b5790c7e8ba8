// Two devices at work at once on the real server:
//   1. how long after the PIN pad answers its reply reaches the till, while a swipe waits on
//      the pad (and, for comparison, with nothing else waiting); the PIN pad is played in this
//      process on a pseudo-terminal, so the moment it answers is known exactly;
//   2. VERSION round trips from a third till while a swipe and a PIN entry wait, and while a
//      signature's upload (stalled on a server that never answers) and a PIN entry wait.
//
//   build/bin/sidebyside_bench [--requests N]

#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "latencies.h"
#include "loopbackclient.h"
#include "pinpadsimulator.h"
#include "serverprocess.h"

namespace {

using namespace LoopbackClient;
using SteadyClock = std::chrono::steady_clock;

const QByteArray kPinRequest = "TRANS=1000SE;ACTION=3;CREDITCARD=4012345678909;TOTAL=12.34;";
// Every reply with a PIN block has this length.
const qsizetype kPinReplyLength = QByteArray("<1000SE><PINBLOCK>1B9C1845EB993A7A</PINBLOCK>"
                                             "<KSN>FFFF9876543210E00001</KSN></1000SE>")
                                      .size();

// The PIN pad's side of a pseudo-terminal, run by this process's event loop; it notes when it
// last wrote, which for a PIN request is its answer.
class InProcessPinPad
{
public:
    InProcessPinPad()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return;
        m_device = QString::fromLocal8Bit(name);
        // The server opens the device itself; this end stays open so the line lives.
        m_slave = slave;
        m_reader = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
        QObject::connect(m_reader.get(), &QSocketNotifier::activated, [this] {
            char buffer[512];
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0 && m_pad)
                m_pad->receive(QByteArray(buffer, int(n)));
        });
    }
    ~InProcessPinPad()
    {
        m_reader.reset();
        m_pad.reset();
        if (m_master >= 0)
            ::close(m_master);
        if (m_slave >= 0)
            ::close(m_slave);
    }
    // The customer from now on: answers every PIN request after `delayMs`, or never.
    void become(PinPadSimulator::Answer answer, int delayMs)
    {
        PinPadSimulator::Options options;
        options.answer = answer;
        options.delayMs = delayMs;
        m_pad = std::make_unique<PinPadSimulator>(
            options,
            [this](const QByteArray& bytes) {
                m_lastWrite = SteadyClock::now();
                [[maybe_unused]] const ssize_t n =
                    ::write(m_master, bytes.constData(), size_t(bytes.size()));
            },
            [](const QString&) {});
    }
    const QString& device() const { return m_device; }
    SteadyClock::time_point lastWrite() const { return m_lastWrite; }

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_device;
    std::unique_ptr<QSocketNotifier> m_reader;
    std::unique_ptr<PinPadSimulator> m_pad;
    SteadyClock::time_point m_lastWrite;
};

// Runs this process's event loop until `done` holds or `timeoutMs` passed.
bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Milliseconds from the PIN pad's answer to the whole reply at the till, `count` times.
Latencies pinReplyDelays(quint16 port, InProcessPinPad& pad, int count)
{
    QTcpSocket till;
    till.connectToHost(QHostAddress::LocalHost, port);
    if (!runUntil([&] { return till.state() == QAbstractSocket::ConnectedState; }, 5000))
        return {};
    till.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    std::vector<double> delays;
    for (int i = 0; i < count; ++i) {
        QByteArray reply;
        std::optional<SteadyClock::time_point> arrived;
        const auto conn = QObject::connect(&till, &QTcpSocket::readyRead, [&] {
            reply += till.readAll();
            if (reply.size() >= kPinReplyLength && !arrived)
                arrived = SteadyClock::now();
        });
        till.write(kPinRequest);
        const bool got = runUntil([&] { return arrived.has_value(); }, 5000);
        QObject::disconnect(conn);
        if (!got || !reply.startsWith("<1000SE><PINBLOCK>"))
            return {};
        delays.push_back(
            std::chrono::duration<double, std::milli>(*arrived - pad.lastWrite()).count());
    }
    return summarise(std::move(delays));
}

int requestsArgument(const QStringList& args)
{
    const qsizetype at = args.indexOf(QStringLiteral("--requests"));
    return at > 0 && at + 1 < args.size() ? std::clamp(args.at(at + 1).toInt(), 10, 100000) : 1000;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int requests = requestsArgument(app.arguments());
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    InProcessPinPad pinPad;
    if (pinPad.device().isEmpty()) {
        std::fprintf(stderr, "sidebyside_bench: no pseudo-terminal\n");
        return 1;
    }
    // An FTP server that takes the connection and never says a word.
    QTcpServer silentFtp;
    silentFtp.listen(QHostAddress::LocalHost);
    const quint16 controlPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[1000SE]\r\n"
                                        "1000SEDevice=1\r\n1000SECommPort=1\r\n[SerialPorts]\r\n"
                                        "COM1=%2\r\n[FTP]\r\nftpUrl=127.0.0.1:%3\r\n"
                                        "ftpUsername=till\r\nftpPassword=bench\r\n")
                             .arg(controlPort)
                             .arg(pinPad.device())
                             .arg(silentFtp.serverPort()),
                         {QStringLiteral("--simulate")});
    if (!server.start()) {
        std::fprintf(stderr, "sidebyside_bench: the server did not start\n");
        return 1;
    }
    bool met = true;

    const int pins = std::max(10, requests / 10);
    std::printf("PIN reply after the PIN pad answered (answer 20 ms after each request), %d "
                "requests\n",
                pins);
    pinPad.become(PinPadSimulator::Answer::Pin, 20);
    const Latencies alone = pinReplyDelays(server.port(), pinPad, pins);
    printLatencies("nothing else waiting:", alone);
    const int swipeFd = connectTo(server.port());
    if (swipeFd < 0 || !sendAll(swipeFd, "TRANS=QP6100;ACTION=1;TIMER=300;") ||
        !server.waitForLogEntry(QStringLiteral("qp6100_get_swipe: timeout=[300]"))) {
        std::fprintf(stderr, "sidebyside_bench: the swipe did not start\n");
        return 1;
    }
    const Latencies besideSwipe = pinReplyDelays(server.port(), pinPad, pins);
    printLatencies("while a swipe waits:", besideSwipe);
    std::printf("  target: median under 5 ms while a swipe waits: %s\n",
                besideSwipe.ok && besideSwipe.medianMs < 5 ? "met" : "missed");
    met = met && alone.ok && besideSwipe.ok && besideSwipe.medianMs < 5;

    std::printf("VERSION round trips on a third connection, %d requests\n", requests);
    pinPad.become(PinPadSimulator::Answer::Silent, 0);
    const int pinFd = connectTo(server.port());
    if (pinFd < 0 || !sendAll(pinFd, "TIMER=300;" + kPinRequest) ||
        !runUntil(
            [&] {
                return server.logEntries().count(
                           QStringLiteral("pinPad1000se_get_pin: initialized")) > 2 * pins;
            },
            5000)) {
        std::fprintf(stderr, "sidebyside_bench: the PIN entry did not start\n");
        return 1;
    }
    // Let the PIN pad take the amount and the card number before the blocking client starts.
    runUntil([] { return false; }, 300);
    const Latencies swipeAndPin = timeVersionRoundTrips(server.port(), requests);
    printLatencies("while a swipe and a PIN entry wait:", swipeAndPin);

    // The swipe gives way to a signature whose upload stalls.
    ::close(swipeFd);
    QTemporaryDir files;
    const QString signatureFile = files.filePath(QStringLiteral("signature.txt"));
    QFile file(signatureFile);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write("10,10 20,20 30,25 40,40\n50,10 60,30\n");
    file.close();
    QProcess signer;
    signer.start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                 {QStringLiteral("--port"), QString::number(controlPort), QStringLiteral("sign"),
                  signatureFile});
    const int signatureFd = connectTo(server.port());
    const auto uploading = [&] {
        return server.logEntries().contains(QStringLiteral("sig_ftp: inetCmd=[PUT ") +
                                            server.home() +
                                            QStringLiteral("/signatures/bench.pcx /bench.pcx]"));
    };
    if (signatureFd < 0 ||
        !runUntil(
            [&] {
                return server.logEntries().contains(
                    QStringLiteral("qp6100_get_swipe: client gone"));
            },
            5000) ||
        !sendAll(signatureFd, "TRANS=QP6100;ACTION=2;UNIQU=bench;DOFTP=Y;FTPPATH=/;TIMER=300;") ||
        !runUntil(uploading, 10000)) {
        std::fprintf(stderr, "sidebyside_bench: the upload did not start\n");
        return 1;
    }
    signer.waitForFinished(5000);
    const Latencies uploadAndPin = timeVersionRoundTrips(server.port(), requests);
    printLatencies("while an upload and a PIN entry wait:", uploadAndPin);
    const bool stillWaiting =
        !server.logEntries().contains(QStringLiteral("return_xml: <QP6100><ERROR>Error Getting "
                                                     "Signature</ERROR></QP6100>")) &&
        !server.logEntries().contains(QStringLiteral("pinPad1000se_get_pin: customer cancelled"));
    std::printf("  the upload and the PIN entry still waited after the run: %s\n",
                stillWaiting ? "yes" : "no");
    met = met && swipeAndPin.ok && uploadAndPin.ok && stillWaiting;
    ::close(signatureFd);
    ::close(pinFd);
    server.stop();
    return met ? 0 : 1;
}
