// Measures signature capture with a 2,000-point signature:
//   1. the time the operation spends after the read that finds the pen data: decoding it,
//      drawing it, writing the PCX file and answering (target: under 20 ms);
//   2. the same with the upload to a local FTP server (Debian's pyftpdlib) before the answer;
//   3. VERSION round trips from a second client while an upload is under way on the real
//      server (target: median under 5 ms), against the same with nothing under way.
// Parts 1 and 2 run the operation in this process over the simulated pad; part 3 starts the
// real varnelpayment, signs with varnel-pad, and stalls the upload on a server that accepts
// the connection and never answers.
//
//   build/bin/signature_bench [--captures N] [--requests N]

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include <QCoreApplication>
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
    const int requests = argument(app.arguments(), QStringLiteral("--requests"), 1000, 10, 100000);
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

    // Part 3: the real server, an upload stalled on a server that never answers.
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    const quint16 controlPort = ServerProcess::freePort();
    ServerProcess server(QStringLiteral("[Simulator]\r\npadControlPort=%1\r\n[FTP]\r\n"
                                        "ftpUrl=127.0.0.1:%2\r\nftpUsername=till\r\n"
                                        "ftpPassword=bench\r\n")
                             .arg(controlPort)
                             .arg(silent.serverPort()),
                         {QStringLiteral("--simulate")});
    if (!server.start()) {
        std::fprintf(stderr, "signature_bench: the server did not start\n");
        return 1;
    }
    std::printf("VERSION round trips on a second connection, %d requests\n", requests);
    const Latencies idle = timeVersionRoundTrips(server.port(), requests);
    printLatencies("nothing under way:", idle);

    QTemporaryDir files;
    const QString signatureFile = files.filePath(QStringLiteral("signature.txt"));
    QFile file(signatureFile);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(signatureFileText(longSignature()));
    file.close();
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
        return 1;
    }
    signer.waitForFinished(5000);
    const Latencies during = timeVersionRoundTrips(server.port(), requests);
    printLatencies("while an upload is under way:", during);
    const bool stillUploading = !server.logEntries().contains(
        QStringLiteral("return_xml: <QP6100><ERROR>Error Getting Signature</ERROR></QP6100>"));
    std::printf("  the upload was still under way after the run: %s\n",
                stillUploading ? "yes" : "no");
    std::printf("  target: median under 5 ms while an upload is under way: %s\n",
                during.ok && during.medianMs < 5 ? "met" : "missed");
    met = met && during.ok && during.medianMs < 5 && stillUploading;
    ::close(captureFd);
    server.stop();
    return met ? 0 : 1;
}
