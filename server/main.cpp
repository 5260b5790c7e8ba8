// varnelpayment: the payment server program, as the tray program on a desktop or headless.

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include "app/paymentserver.h"
#include "core/clock.h"
#include "core/eventpump.h"
#include "core/programfolder.h"
#include "log/textviewer.h"
#include "pad/curlftpclient.h"
#include "pad/filechooser.h"
#include "pad/padcontrolserver.h"
#include "pad/simulatedpad.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"
#include "shell/dialogfilechooser.h"
#include "shell/launchertextviewer.h"
#include "shell/systemtrayicon.h"
#include "shell/trayprogram.h"
#include "shell/urllauncher.h"
#include "shell/widgetquestionbox.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM end the program through its normal shut-down, without asking. The handler
// only asks the event loop to end (`endProgram`); waits under way are interrupted so that they
// unwind first, and the shut-down runs once the main loop has returned.
void routeTerminationSignals(QCoreApplication& app, const std::function<void()>& endProgram)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [endProgram, notifier] {
        notifier->setEnabled(false);
        endProgram();
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

bool asksForHeadless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0)
            return true;
    return false;
}

// A window needs a display, or a Qt platform that draws without one (offscreen, vnc, ...).
bool hasDisplay()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb") && !platform.startsWith("wayland"))
        return true;
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

// The pad's control port, where varnel-pad stands at the simulated pad. Without it the pad
// still works; it has logged why it cannot listen.
std::unique_ptr<PadControlServer> listenForPadControl(SimulatedPad& pad, PaymentServer& server)
{
    auto control = std::make_unique<PadControlServer>(pad, server.activityLog());
    control->listen(PadControlServer::configuredPort(server.folder().settingsPath()));
    return control;
}

void printStarted(const PaymentServer& server)
{
    printLine(stdout,
              QStringLiteral("Varnel Payment Server %1").arg(QStringLiteral(VARNEL_VERSION)));
    printLine(stdout, QStringLiteral("Program folder: %1").arg(server.folder().path()));
    if (server.listeningPort() != 0)
        printLine(stdout, QStringLiteral("Listening on port: %1").arg(server.listeningPort()));
    if (server.webSocketPort() != 0)
        printLine(stdout, QStringLiteral("WebSocket port: %1 (%2)")
                              .arg(server.webSocketPort())
                              .arg(server.webSocketSecure() ? QStringLiteral("wss")
                                                            : QStringLiteral("ws")));
}

// The WebSocket port is an addition: when it cannot open, the TCP port serves on and this says
// why.
void printWebSocketError(PaymentServer& server)
{
    if (!server.webSocketError().isEmpty())
        printLine(stderr, QStringLiteral("varnelpayment: cannot open the WebSocket port [%1]: %2")
                              .arg(server.settings().webSocketPort(), server.webSocketError()));
}

void printListenError(PaymentServer& server, const QString& reason)
{
    printLine(stderr, QStringLiteral("varnelpayment: cannot listen on port [%1]: %2")
                          .arg(server.settings().txtSockport(), reason));
}

// The devices of this build that do not depend on a window: the simulated QP6100 pad, libcurl
// for the signature upload, the 1000SE on a serial port and QSerialPort for the port scan.
struct DeviceSet
{
    DeviceSet(const ProgramFolder& folder, EventPump& pump) : pinPad(folder.settingsPath(), pump) {}

    Devices with(FileChooser& fileChooser, TextViewer& textViewer)
    {
        return Devices{simulatedPad, fileChooser, textViewer, ftpClient, pinPad, serialProbe};
    }
    // PIN entry waits as long as the requests' TIMER says, like the swipe.
    void follow(PaymentServer& server) { pinPad.followPadTimeout(server.padTimeout()); }

    SimulatedPad simulatedPad;
    CurlFtpClient ftpClient;
    SerialPinPad pinPad;
    QtSerialProbe serialProbe;
};

int runHeadless(QCoreApplication& app, const ProgramFolder& folder, bool simulate)
{
    SystemClock clock;
    QtEventPump pump;
    // Without a window: no file dialog, and the desktop's opener for View Log.
    DeviceSet devices(folder, pump);
    NoFileChooser fileChooser;
    DesktopTextViewer textViewer;
    PaymentServer server{folder, clock, pump, devices.with(fileChooser, textViewer)};
    devices.follow(server);
    routeTerminationSignals(app, [&app, &pump] {
        pump.interrupt();
        app.quit();
    });

    QString reason;
    const bool listening = server.start(simulate, &reason);
    printWebSocketError(server);
    // A service without its port is of no use: it says why and ends.
    if (!listening) {
        printListenError(server, reason);
        server.shutdown();
        return 1;
    }
    const auto padControl = listenForPadControl(devices.simulatedPad, server);
    printStarted(server);
    const int status = app.exec();
    server.shutdown();
    return status;
}

int runTrayProgram(QApplication& app, const ProgramFolder& folder, bool simulate)
{
    // The window hides into the notification area; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    SystemClock clock;
    QtEventPump pump;
    // With a window: the file dialog, and the desktop's default program for text files for
    // View Log.
    DeviceSet devices(folder, pump);
    DialogFileChooser fileChooser;
    DesktopUrlLauncher launcher;
    LauncherTextViewer textViewer(launcher);
    PaymentServer server{folder, clock, pump, devices.with(fileChooser, textViewer)};
    devices.follow(server);

    WidgetQuestionBox questionBox;
    SystemTrayIcon tray;
    // exit() rather than quit(): a widget application's quit() first asks every window to
    // close, which would put up the close box.
    const std::function<void()> endProgram = [&pump] {
        pump.interrupt();
        QCoreApplication::exit(0);
    };
    TrayProgram program(
        server, DesktopHost{questionBox, tray, launcher,
                            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath(),
                            endProgram});
    routeTerminationSignals(app, endProgram);

    QString reason;
    // Without its port the program goes on, so that the port can be corrected in the window.
    if (!program.start(simulate, &reason))
        printListenError(server, reason);
    printWebSocketError(server);
    const auto padControl = listenForPadControl(devices.simulatedPad, server);
    printStarted(server);
    const int status = app.exec();
    program.finish();
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    const bool headless = asksForHeadless(argc, argv);
    const bool windowed = !headless && hasDisplay();
    // Only the tray program makes a widget application; --help and --version work anywhere.
    std::unique_ptr<QCoreApplication> app = windowed
                                                ? std::make_unique<QApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnelpayment"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Varnel Payment Server: lets point-of-sale programs on the network use the signature "
        "pad and the PIN pad of this workstation through one-line TAG=value; requests over "
        "TCP, and browser tills over an optional WebSocket port. The ports, who may connect "
        "and the devices are set in varnelpayment.ini in the "
        "program folder; the activity log varnelpayment.log is written there too. On a "
        "desktop it runs in the notification area with its settings window."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"),
                      QStringLiteral("Run without the tray icon and settings window, as a "
                                     "service; needed where there is no display.")});
    parser.addOption({QStringLiteral("home"),
                      QStringLiteral("Use <dir> as the program folder (created when missing). "
                                     "Default: the folder of the executable."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Tick the QP6100 device box for this run (not in the "
                                     "settings file), so the simulated pad connects at once.")});
    parser.process(*app);
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("varnelpayment: unexpected argument '%1' (see --help)")
                              .arg(parser.positionalArguments().first()));
        return 2;
    }
    if (!headless && !windowed) {
        printLine(stderr, QStringLiteral("varnelpayment: no display for the tray program "
                                         "(DISPLAY and WAYLAND_DISPLAY are not set); run "
                                         "with --headless to serve without a window"));
        return 2;
    }

    QString home = parser.isSet(QStringLiteral("home")) ? parser.value(QStringLiteral("home"))
                                                        : QCoreApplication::applicationDirPath();
    if (!QDir().mkpath(home)) {
        printLine(stderr,
                  QStringLiteral("varnelpayment: cannot create the program folder %1").arg(home));
        return 1;
    }
    const ProgramFolder folder(home);
    const bool simulate = parser.isSet(QStringLiteral("simulate"));
    if (windowed)
        return runTrayProgram(static_cast<QApplication&>(*app), folder, simulate);
    return runHeadless(*app, folder, simulate);
}
