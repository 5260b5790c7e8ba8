// Measures signature capture with a 2,000-point signature:
//   1. the time the operation spends after the read that finds the pen data: decoding it,
//      drawing it, writing the PCX file and answering (target: under 20 ms);
//   2. the same with the upload to a local FTP server (Debian's pyftpdlib) before the answer;
//   3. VERSION round trips from a second client, one every 5 ms, while an upload waits on the
//      real server (target: p99 under 5 ms), against the same with nothing under way, and the
//      longest gap between the server's watchdog beats meanwhile (target: under its 1 s
//      interval). The upload meets a server that accepts the connection and never answers,
//      then one that drips its confirmation of the store a byte every half second, then the
//      silent one again with 50 pictures waiting in the outbox to be tried again.
// Parts 1 and 2 run the operation in this process over the simulated pad; part 3 starts the
// real varnelpayment and signs with varnel-pad.
//
//   build/bin/signature_bench [--captures N]

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>

#include "core/clock.h"
#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "ftpserverprocess.h"
#include "latencies.h"
#include "log/activitylog.h"
#include "loopbackclient.h"
#include "nowaitscheduler.h"
#include "pad/curlftpclient.h"
#include "pad/filechooser.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "pad/sigcomp.h"
#include "pad/signaturecapture.h"
#include "pad/signatureupload.h"
#include "pad/simulatedpad.h"
#include "scriptedftpserver.h"
#include "serverprocess.h"
#include "settings/ftpsettings.h"

namespace {

using SteadyClock = std::chrono::steady_clock;
using namespace LoopbackClient;

// A signature of 2,000 pen points in 20 strokes: loops sweeping across the signing area.
PenStrokes longSignature()
{
    PenStrokes strokes;
    for (int s = 0; s < 20; ++s) {
        PenStroke stroke;
        for (int i = 0; i < 100; ++i) {
            const double t = (s * 100 + i) / 2000.0;
            const double angle = i * 0.35;
            stroke.push_back({int(std::lround(20 + t * 360 + 12 * std::cos(angle))),
                              int(std::lround(60 + 40 * std::sin(angle) * std::cos(s)))});
        }
        strokes.push_back(std::move(stroke));
    }
    return strokes;
}

// The pad as the benchmark drives it: the customer has signed by the time the operation first
// reads "SIGCOMP", and the moment that read returns is noted.
class SigningPad final : public PadDriver
{
public:
    SigningPad(SimulatedPad& pad, QString sigcomp) : m_pad(pad), m_sigcomp(std::move(sigcomp)) {}

    SteadyClock::time_point lastRead;
    // Runs after the read that finds the pen data.
    std::function<void()> onPenRead;

    void OpenPort(int p, int o, qint16& s) override { m_pad.OpenPort(p, o, s); }
    void ClosePort() override { m_pad.ClosePort(); }
    void IsPortOpen(qint16& f) override { m_pad.IsPortOpen(f); }
    void ShowForm(const QString& n, qint16& s) override { m_pad.ShowForm(n, s); }
    void RunForm(const QString& n, const QString& a, qint16& s) override { m_pad.RunForm(n, a, s); }
    void LoadScript(int m, const QString& e, const QString& p, int b, qint16& s) override
    {
        m_pad.LoadScript(m, e, p, b, s);
    }
    void SaveSignature(const QByteArray& b, qint16 c, const QString& p, qint16& s) override
    {
        m_pad.SaveSignature(b, c, p, s);
    }
    void GetVariable(const QString& name, QString& value, qint16& status) override
    {
        const bool signing = name == PadVariable::kSigcomp && m_pad.awaitingSignature();
        if (signing)
            m_pad.sign(m_sigcomp);
        m_pad.GetVariable(name, value, status);
        lastRead = SteadyClock::now();
        if (signing && onPenRead)
            onPenRead();
    }
    void SetVariable(const QString& n, const QByteArray& b, qint16 c, qint16& s) override
    {
        m_pad.SetVariable(n, b, c, s);
    }

private:
    SimulatedPad& m_pad;
    QString m_sigcomp;
};

// Runs `captures` signature requests in this process and times each from the read that finds
// the pen data to the answer.
Latencies measureCaptures(int captures, bool upload, const QString& ftpSettings)
{
    QTemporaryDir home;
    const QString settingsPath = home.filePath(QStringLiteral("varnelpayment.ini"));
    QFile ini(settingsPath);
    if (!ini.open(QIODevice::WriteOnly))
        return {};
    ini.write(ftpSettings.toLatin1());
    ini.close();

    SystemClock clock;
    ActivityLog log(home.filePath(QStringLiteral("varnelpayment.log")), clock);
    SimulatedPad simulated;
    SigningPad pad(simulated, Sigcomp::encode(longSignature()));
    LiveSettings settings;
    NoFileChooser chooser;
    PadConnection connection(pad, settings, log, chooser);
    settings.setChkQP6100Device(LiveSettings::Ticked);
    PadVariables variables(pad, log);
    NoWaitScheduler scheduler;
    PadTimeout padTimeout;
    padTimeout.setSeconds(30);
    CurlFtpClient ftp;
    const PadContext context{pad, connection, variables, log, scheduler, padTimeout};
    const FtpSource source{ftp, [settingsPath] { return readFtpSettings(settingsPath); }};
    // The read that finds the pen data ends the free steps: the upload waits for real.
    pad.onPenRead = [&scheduler] { scheduler.skipWaits = false; };

    const QString sigFile = home.filePath(QStringLiteral("signatures/ab12.pcx"));
    std::vector<double> times;
    for (int i = 0; i < captures; ++i) {
        SignatureCapture::qp6100_delete_signature(log, sigFile);
        scheduler.skipWaits = true;
        SignatureCapture capture(context, source, sigFile, upload, QStringLiteral("/"));
        const Outcome ended = runToEnd(capture);
        const auto sent = SteadyClock::now();
        if (!std::holds_alternative<outcome::SignatureStored>(ended))
            return {};
        times.push_back(std::chrono::duration<double, std::milli>(sent - pad.lastRead).count());
    }
    return summarise(std::move(times));
}

// The signature in varnel-pad's file format.
QByteArray signatureFileText(const PenStrokes& strokes)
{
    QByteArray text;
    for (const PenStroke& stroke : strokes) {
        for (const PenPoint& point : stroke)
            text += QByteArray::number(point.x) + ',' + QByteArray::number(point.y) + ' ';
        text += '\n';
    }
    return text;
}

// How long the VERSION requests run while an upload waits, one every 5 ms.
constexpr int kPacedMs = 3000;

// VERSION round trips paced one every 5 ms for `durationMs`, on a new connection.
Latencies timePacedVersions(quint16 port, int durationMs)
{
    const int fd = connectTo(port);
    if (fd < 0)
        return {};
    std::vector<double> times;
    const auto end = SteadyClock::now() + std::chrono::milliseconds(durationMs);
    while (SteadyClock::now() < end) {
        const auto sent = SteadyClock::now();
        if (!versionRoundTrip(fd)) {
            ::close(fd);
            return {};
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(SteadyClock::now() - sent).count());
        std::this_thread::sleep_until(sent + std::chrono::milliseconds(5));
    }
    ::close(fd);
    return summarise(std::move(times));
}

// Where systemd's notification socket would be: a thread notes when each watchdog beat came.
class WatchdogListener
{
public:
    explicit WatchdogListener(const QString& path)
    {
        const QByteArray name = path.toLocal8Bit();
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, name.constData(), sizeof(address.sun_path) - 1);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        timeval limit{0, 200 * 1000};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        m_thread = std::thread([this] {
            char buffer[512];
            while (!m_stop.load()) {
                const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
                if (n > 0 && QByteArray(buffer, int(n)).contains("WATCHDOG=1")) {
                    const std::lock_guard lock(m_mutex);
                    m_beats.push_back(SteadyClock::now());
                }
            }
        });
    }
    ~WatchdogListener()
    {
        m_stop.store(true);
        m_thread.join();
        ::close(m_fd);
    }
    // The longest time between two beats since `from`, or from it to the last beat.
    qint64 longestGapSince(SteadyClock::time_point from)
    {
        const std::lock_guard lock(m_mutex);
        qint64 longest = 0;
        SteadyClock::time_point previous = from;
        for (const auto beat : m_beats) {
            if (beat < from)
                continue;
            longest = std::max<qint64>(
                longest,
                std::chrono::duration_cast<std::chrono::milliseconds>(beat - previous).count());
            previous = beat;
        }
        const auto sinceLast =
            std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - previous)
                .count();
        return std::max<qint64>(longest, sinceLast);
    }

private:
    int m_fd = -1;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<SteadyClock::time_point> m_beats;
    std::thread m_thread;
};

struct StallRun
{
    bool ok = false;
    Latencies idle;
    Latencies during;
    qint64 longestBeatGapMs = 0;
    bool stillUploading = false;
};

// Starts the real server with its watchdog on, times VERSION with nothing under way, then
// signs and uploads to the FTP server on `ftpPort` and times VERSION while the upload waits.
StallRun measureStalledUpload(quint16 ftpPort, const QString& signatureFile, int waiting)
{
    StallRun run;
    const quint16 controlPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[FTP]\r\n"
                                        "ftpUrl=127.0.0.1:%2\r\nftpUsername=till\r\n"
                                        "ftpPassword=bench\r\nRetryFirst=1s\r\n")
                             .arg(controlPort)
                             .arg(ftpPort),
                         {QStringLiteral("--simulate")});
    // Pictures an earlier run left waiting: the outbox tries them again from the start.
    const QDir outbox(server.home() + QStringLiteral("/signatures/outbox"));
    QDir().mkpath(outbox.path());
    const QByteArray now = QByteArray::number(QDateTime::currentSecsSinceEpoch());
    for (int i = 0; i < waiting; ++i) {
        const QString key = QStringLiteral("%1-0-w%2.pcx").arg(QString::fromLatin1(now)).arg(i);
        QFile picture(outbox.filePath(key));
        QFile record(outbox.filePath(key + QStringLiteral(".record")));
        if (!picture.open(QIODevice::WriteOnly) || !record.open(QIODevice::WriteOnly))
            return run;
        picture.write(QByteArray(8 * 1024, 'p'));
        record.write("remote=/w" + QByteArray::number(i) + ".pcx\nattempts=1\nfirst=" + now +
                     "\nnext=" + now + "\ngaveup=0\nfailure=\n");
    }
    QTemporaryDir notify;
    WatchdogListener watchdog(notify.filePath(QStringLiteral("notify")));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), notify.filePath(QStringLiteral("notify")));
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("1000000"));
    server.process().setProcessEnvironment(environment);
    if (!server.start()) {
        std::fprintf(stderr, "signature_bench: the server did not start\n");
        return run;
    }
    run.idle = timePacedVersions(server.port(), 1000);

    QProcess signer;
    signer.start(ServerProcess::binDir() + QStringLiteral("/varnel-pad"),
                 {QStringLiteral("--port"), QString::number(controlPort), QStringLiteral("sign"),
                  signatureFile});
    const int captureFd = connectTo(server.port());
    if (captureFd < 0 ||
        !sendAll(captureFd, "TRANS=QP6100;ACTION=2;UNIQU=bench;DOFTP=Y;FTPPATH=/;TIMER=60;") ||
        !server.waitForLogEntry(QStringLiteral("sig_ftp: inetCmd=[PUT ") + server.home() +
                                    QStringLiteral("/signatures/bench.pcx /bench.pcx]"),
                                10000)) {
        std::fprintf(stderr, "signature_bench: the upload did not start\n");
        return run;
    }
    signer.waitForFinished(5000);
    const auto uploading = SteadyClock::now();
    run.during = timePacedVersions(server.port(), kPacedMs);
    run.longestBeatGapMs = watchdog.longestGapSince(uploading);
    run.stillUploading = !server.logEntries().contains(
        QStringLiteral("return_xml: <QP6100><ERROR>Error Getting Signature</ERROR></QP6100>"));
    ::close(captureFd);
    server.stop();
    run.ok = run.idle.ok && run.during.ok;
    return run;
}

int argument(const QStringList& args, const QString& name, int fallback, int low, int high)
{
    const qsizetype at = args.indexOf(name);
    return at > 0 && at + 1 < args.size() ? std::clamp(args.at(at + 1).toInt(), low, high)
                                          : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int captures = argument(app.arguments(), QStringLiteral("--captures"), 200, 10, 10000);
    qputenv("VARNEL_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit());
    bool met = true;

    std::printf("Signature capture of %d pen points (%lld characters of pen data), %d captures\n",
                int(Sigcomp::kMaxPoints),
                static_cast<long long>(Sigcomp::encode(longSignature()).size()), captures);
    const Latencies local = measureCaptures(captures, false, {});
    printLatencies("decode, draw, write the PCX:", local);
    std::printf("  target: under 20 ms: %s\n", local.ok && local.p90Ms < 20 ? "met" : "missed");
    met = met && local.ok && local.p90Ms < 20;

    FtpServerProcess ftpServer(QStringLiteral("till"), QStringLiteral("bench"));
    if (!ftpServer.start()) {
        std::fprintf(stderr, "signature_bench: the FTP server did not start\n");
        return 1;
    }
    const QString ftpSettings =
        QStringLiteral("[FTP]\r\nftpUrl=127.0.0.1:%1\r\nftpUsername=till\r\n"
                       "ftpPassword=bench\r\n")
            .arg(ftpServer.port());
    printLatencies("the same, then the FTP upload:",
                   measureCaptures(std::max(10, captures / 4), true, ftpSettings));

    // Part 3: the real server, an upload meeting a server that misbehaves.
    QTemporaryDir files;
    const QString signatureFile = files.filePath(QStringLiteral("signature.txt"));
    QFile file(signatureFile);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(signatureFileText(longSignature()));
    file.close();
    std::printf("VERSION round trips on a second connection, one every 5 ms for %d ms\n", kPacedMs);
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    ScriptedFtpServer dripping(ScriptedFtpServer::Mode::DripsConfirmation);
    const struct
    {
        const char* label;
        quint16 port;
        int waiting;
    } stalls[] = {
        {"a server that never answers:", silent.serverPort(), 0},
        {"a server that drips its 226:", dripping.port(), 0},
        {"a server that never answers, 50 pictures waiting in the outbox:", silent.serverPort(),
         50},
    };
    for (const auto& stall : stalls) {
        const StallRun run = measureStalledUpload(stall.port, signatureFile, stall.waiting);
        if (!run.ok)
            return 1;
        std::printf("%s\n", stall.label);
        printLatencies("  nothing under way:", run.idle);
        printLatencies("  while the upload waits:", run.during);
        std::printf("  longest gap between watchdog beats (interval 1000 ms): %lld ms\n",
                    static_cast<long long>(run.longestBeatGapMs));
        std::printf("  the upload was still under way after the run: %s\n",
                    run.stillUploading ? "yes" : "no");
        const bool stallMet = run.during.ok && run.during.p99Ms < 5 &&
                              run.longestBeatGapMs < 1000 && run.stillUploading;
        std::printf("  target: p99 under 5 ms, beats on time: %s\n", stallMet ? "met" : "missed");
        met = met && stallMet;
    }
    return met ? 0 : 1;
}
