// Measures the screen pad's Done: from the customer's Done (Return on the pad window) after a
// 2,000-point signature drawn with the mouse, to the signature reply of the waiting capture,
// with the picture written (target: median under 50 ms). It covers encoding the strokes, the
// capture's read of the pen data, decoding, drawing and writing the PCX file, and the answer;
// the capture's half-second waiting steps are not waited out. Runs in this process on the
// off-screen platform, or on the display QT_QPA_PLATFORM names.
//
//   build/bin/screenpad_bench [--captures N]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTemporaryDir>

#include "core/clock.h"
#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "latencies.h"
#include "log/activitylog.h"
#include "nowaitscheduler.h"
#include "pad/curlftpclient.h"
#include "pad/filechooser.h"
#include "pad/padconnection.h"
#include "pad/padcontext.h"
#include "pad/padvariables.h"
#include "pad/sigcomp.h"
#include "pad/signaturecapture.h"
#include "pad/signatureupload.h"
#include "screenpad/padwindow.h"
#include "screenpad/screenpad.h"
#include "screenpad/signingbox.h"
#include "settings/settings.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

void sendMouse(QWidget& box, QEvent::Type type, QPointF at, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, box.mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(&box, &event);
}

// Draws 2,000 distinct pen points with the mouse: 20 strokes of 100 points, sweeping across
// the box in loops, each at the centre of its pen point's pixels.
void drawLongSignature(SigningBox& box)
{
    const double sx = double(box.width()) / SigningArea::kWidth;
    const double sy = double(box.height()) / SigningArea::kHeight;
    for (int s = 0; s < 20; ++s) {
        for (int i = 0; i < 100; ++i) {
            const int x = 10 + (s * 100 + i) * 380 / 2000;
            const int y = 10 + (i % 2 == 0 ? i / 2 : 99 - i / 2);
            const QPointF at((x + 0.5) * sx, (y + 0.5) * sy);
            sendMouse(box, i == 0 ? QEvent::MouseButtonPress : QEvent::MouseMove, at,
                      Qt::LeftButton);
        }
        sendMouse(box, QEvent::MouseButtonRelease, QPointF(1, 1), Qt::NoButton);
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--captures"));
    const int captures =
        at > 0 && at + 1 < args.size() ? std::clamp(args.at(at + 1).toInt(), 5, 10000) : 100;

    QTemporaryDir home;
    SystemClock clock;
    ActivityLog log(home.filePath(QStringLiteral("varnelpayment.log")), clock);
    LiveSettings settings;
    const Qp6100Settings padSettings;
    ScreenPad pad(padSettings, log);
    NoFileChooser chooser;
    PadConnection connection(pad, settings, log, chooser);
    settings.setChkQP6100Device(LiveSettings::Ticked);
    if (!pad.window()) {
        std::fprintf(stderr, "screenpad_bench: the screen pad did not open\n");
        return 1;
    }
    PadVariables variables(pad, log);
    NoWaitScheduler scheduler;
    PadTimeout padTimeout;
    padTimeout.setSeconds(30);
    CurlFtpClient ftp;
    const PadContext context{pad, connection, variables, log, scheduler, padTimeout};
    const FtpSource source{ftp, [] { return FtpSettings{}; }};

    const QString sigFile = home.filePath(QStringLiteral("signatures/bench.pcx"));
    std::vector<double> times;
    int points = 0;
    for (int i = 0; i < captures; ++i) {
        SteadyClock::time_point done;
        // The customer acts during the capture's first waiting step; later steps cost nothing.
        std::function<void()> customer = [&] {
            drawLongSignature(pad.window()->signingBox());
            points = 0;
            for (const PenStroke& stroke : pad.window()->signingBox().strokes())
                points += int(stroke.size());
            done = SteadyClock::now();
            QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(pad.window(), &press);
        };
        const auto customerCall =
            scheduler.callAfter(0, [&] { std::exchange(customer, nullptr)(); });
        SignatureCapture::qp6100_delete_signature(log, sigFile);
        SignatureCapture capture(context, source, sigFile, false, QStringLiteral("/"));
        const Outcome ended = runToEnd(capture);
        const auto sent = SteadyClock::now();
        if (!std::holds_alternative<outcome::SignatureStored>(ended)) {
            std::fprintf(stderr, "screenpad_bench: capture %d did not save a signature\n", i);
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(sent - done).count());
    }
    std::printf("Screen pad: Done to the signature reply, %d pen points drawn, %d captures\n",
                points, captures);
    const Latencies figures = summarise(std::move(times));
    printLatencies("encode, read, decode, draw, write the PCX, answer:", figures);
    const bool met = figures.ok && figures.medianMs < 50 && points == Sigcomp::kMaxPoints;
    std::printf("  target: median under 50 ms for 2,000 points: %s\n", met ? "met" : "missed");
    return met ? 0 : 1;
}
