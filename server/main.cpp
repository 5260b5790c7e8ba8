// varnelpayment: the payment server program.

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include "app/paymentserver.h"
#include "core/clock.h"
#include "core/eventpump.h"
#include "core/programfolder.h"
#include "log/textviewer.h"
#include "pad/filechooser.h"
#include "pad/padcontrolserver.h"
#include "pad/simulatedpad.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the program through its normal shut-down. The handler only asks the
// event loop to end; waits under way are interrupted so that they unwind first, and the
// shut-down runs once the main loop has returned.
void routeTerminationSignals(QCoreApplication& app, QtEventPump& pump)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app, &pump, notifier] {
        notifier->setEnabled(false);
        pump.interrupt();
        app.quit();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

void printLine(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnelpayment"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Varnel Payment Server: lets point-of-sale programs on the network use the signature "
        "pad and the PIN pad of this workstation through one-line TAG=value; requests over "
        "TCP. The listening port and the devices are set in varnelpayment.ini in the "
        "program folder; the activity log varnelpayment.log is written there too."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"),
                      QStringLiteral("Run without the tray icon and settings window, as a "
                                     "service (this build has no window and always does).")});
    parser.addOption({QStringLiteral("home"),
                      QStringLiteral("Use <dir> as the program folder (created when missing). "
                                     "Default: the folder of the executable."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Tick the QP6100 device box for this run (not in the "
                                     "settings file), so the simulated pad connects at once.")});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("varnelpayment: unexpected argument '%1' (see --help)")
                              .arg(parser.positionalArguments().first()));
        return 2;
    }

    QString home = parser.isSet(QStringLiteral("home")) ? parser.value(QStringLiteral("home"))
                                                        : QCoreApplication::applicationDirPath();
    if (!QDir().mkpath(home)) {
        printLine(stderr,
                  QStringLiteral("varnelpayment: cannot create the program folder %1").arg(home));
        return 1;
    }

    SystemClock clock;
    QtEventPump pump;
    // The devices of this build: the simulated QP6100 pad, no file dialog without a window,
    // the desktop's viewer for View Log, the 1000SE on a serial port, and QSerialPort for the
    // serial port scan.
    const ProgramFolder folder(home);
    SimulatedPad simulatedPad;
    NoFileChooser fileChooser;
    DesktopTextViewer textViewer;
    SerialPinPad pinPad(folder.settingsPath(), pump);
    QtSerialProbe serialProbe;
    PaymentServer server{folder, clock, pump,
                         Devices{simulatedPad, fileChooser, textViewer, pinPad, serialProbe}};
    // PIN entry waits as long as the requests' TIMER says, like the swipe.
    pinPad.followPadTimeout(server.padTimeout());
    routeTerminationSignals(app, pump);

    QString reason;
    const bool listening = server.start(parser.isSet(QStringLiteral("simulate")), &reason);
    // A service without its port is of no use: it says why and ends.
    if (!listening) {
        printLine(stderr, QStringLiteral("varnelpayment: cannot listen on port [%1]: %2")
                              .arg(server.settings().txtSockport, reason));
        server.shutdown();
        return 1;
    }
    // The pad's control port, where varnel-pad stands at the simulated pad. Without it the pad
    // still works; it has logged why it cannot listen.
    PadControlServer padControl(simulatedPad, server.activityLog());
    padControl.listen(PadControlServer::configuredPort(folder.settingsPath()));

    printLine(stdout,
              QStringLiteral("Varnel Payment Server %1").arg(QStringLiteral(VARNEL_VERSION)));
    printLine(stdout, QStringLiteral("Program folder: %1").arg(folder.path()));
    printLine(stdout, QStringLiteral("Listening on port: %1").arg(server.listeningPort()));

    const int status = app.exec();
    server.shutdown();
    return status;
}
