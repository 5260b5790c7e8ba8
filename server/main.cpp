// varnelpayment: the payment server program, as the tray program on a desktop or headless.

#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>

#include "app/paymentserver.h"
#include "core/clock.h"
#include "core/defaultprogramfolder.h"
#include "core/eventpump.h"
#include "core/programfolder.h"
#include "log/textviewer.h"
#include "metrics/servicenotifier.h"
#include "pad/curlftpclient.h"
#include "pad/filechooser.h"
#include "pad/padcontrolserver.h"
#include "pad/simulatedpad.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"
#include "screenpad/screenpad.h"
#include "settings/profilestore.h"
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

// Every client connection takes a descriptor: the soft limit (often 1024) goes up to the hard
// one, so the connection cap, not the limit, is what turns clients away.
void raiseFileLimit()
{
    struct rlimit limit = {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
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
    if (server.metricsPort() != 0)
        printLine(stdout, QStringLiteral("Metrics port: %1").arg(server.metricsPort()));
    if (!server.metricsError().isEmpty())
        printLine(stderr, QStringLiteral("varnelpayment: cannot open the metrics port: %1")
                              .arg(server.metricsError()));
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

// The QP6100 drivers this build has.
enum class PadChoice { Simulated, Screen };

// The devices of this build that do not depend on a window: the QP6100 pad (simulated, or the
// screen pad), libcurl for the signature upload, the 1000SE on a serial port and QSerialPort
// for the port scan.
struct DeviceSet
{
    DeviceSet(const ProgramFolder& folder, EventPump& pump, PadChoice pad)
        : pinPad(folder.settingsPath(), pump)
    {
        if (pad == PadChoice::Screen)
            screenPad = std::make_unique<ScreenPad>();
    }

    Devices with(FileChooser& fileChooser, TextViewer& textViewer)
    {
        PadDriver& padDriver =
            screenPad ? static_cast<PadDriver&>(*screenPad) : static_cast<PadDriver&>(simulatedPad);
        return Devices{padDriver, fileChooser, textViewer, ftpClient, pinPad, serialProbe};
    }
    // PIN entry waits as long as the requests' TIMER says, like the swipe; the screen pad
    // finds its screen and card reader in the live settings.
    void follow(PaymentServer& server)
    {
        pinPad.followPadTimeout(server.padTimeout());
        if (screenPad)
            screenPad->attach(server.settings(), server.activityLog());
    }
    // The pad's control port, where varnel-pad stands at the simulated pad; nothing for the
    // screen pad, whose customer stands at the screen.
    std::unique_ptr<PadControlServer> listenForPadControl(PaymentServer& server)
    {
        if (screenPad)
            return nullptr;
        auto control = std::make_unique<PadControlServer>(simulatedPad, server.activityLog());
        control->listen(PadControlServer::configuredPort(server.folder().settingsPath()));
        return control;
    }

    SimulatedPad simulatedPad;
    std::unique_ptr<ScreenPad> screenPad;
    CurlFtpClient ftpClient;
    SerialPinPad pinPad;
    QtSerialProbe serialProbe;
};

int runHeadless(QCoreApplication& app, const ProgramFolder& folder, bool simulate, PadChoice pad)
{
    // The screen pad's window may be the only one; closing it must not end the service.
    if (auto* widgets = qobject_cast<QApplication*>(&app))
        widgets->setQuitOnLastWindowClosed(false);
    SystemClock clock;
    QtEventPump pump;
    // Without a window: no file dialog, and the desktop's opener for View Log.
    DeviceSet devices(folder, pump, pad);
    NoFileChooser fileChooser;
    DesktopTextViewer textViewer;
    PaymentServer server{folder, clock, pump, devices.with(fileChooser, textViewer)};
    devices.follow(server);
    // exit() rather than quit(), which in a widget application (the screen pad's) first asks
    // the windows to close.
    routeTerminationSignals(app, [&pump] {
        pump.interrupt();
        QCoreApplication::exit(0);
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
    const auto padControl = devices.listenForPadControl(server);
    printStarted(server);
    // Under systemd: ready once the port listens, the watchdog's beats from this loop.
    ServiceNotifier notifier;
    notifier.ready(server.statusLine());
    const int status = app.exec();
    notifier.stopping();
    server.shutdown();
    return status;
}

int runTrayProgram(QApplication& app, const ProgramFolder& folder, bool simulate, PadChoice pad)
{
    // The window hides into the notification area; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    SystemClock clock;
    QtEventPump pump;
    // With a window: the file dialog, and the desktop's default program for text files for
    // View Log.
    DeviceSet devices(folder, pump, pad);
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
                            server.folder().path(), endProgram});
    routeTerminationSignals(app, endProgram);

    QString reason;
    // Without its port the program goes on, so that the port can be corrected in the window.
    if (!program.start(simulate, &reason))
        printListenError(server, reason);
    printWebSocketError(server);
    const auto padControl = devices.listenForPadControl(server);
    printStarted(server);
    const int status = app.exec();
    program.finish();
    return status;
}

// The program folder without --home: installed, the user's data folder; elsewhere the
// executable's folder. Found through /proc, so that it is known before the application exists.
DefaultProgramFolder fallbackFolder()
{
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return defaultProgramFolder(QFileInfo(executable).absolutePath(),
                                QStringLiteral(VARNEL_INSTALL_BINDIR),
                                qEnvironmentVariable("XDG_DATA_HOME"), QDir::homePath());
}

// The program's options; parsed once before the application exists (to choose its kind) and
// once more by it (for --help, --version and errors).
void addOptions(QCommandLineParser& parser)
{
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
    const DefaultProgramFolder fallback = fallbackFolder();
    parser.addOption({QStringLiteral("home"),
                      QStringLiteral("Use <dir> as the program folder (created when missing). "
                                     "Default here: %1%2.")
                          .arg(QDir::toNativeSeparators(fallback.path),
                               fallback.perUser ? QStringLiteral(" (this user's data folder, "
                                                                 "made owner-only)")
                                                : QStringLiteral(" (the executable's folder)")),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("simulate"),
                      QStringLiteral("Tick the QP6100 device box for this run (not in the "
                                     "settings file), so the pad connects at once.")});
    parser.addOption({QStringLiteral("pad"),
                      QStringLiteral("The QP6100 for this run, instead of [QP6100] Driver in the "
                                     "settings file: 'simulated' (the default) or 'screen' (a "
                                     "window on a screen, a card reader and a pen, finger or "
                                     "mouse; needs a display, also with --headless)."),
                      QStringLiteral("driver")});
}

std::optional<PadChoice> padChoice(const QString& name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty() || trimmed.compare(QLatin1String("simulated"), Qt::CaseInsensitive) == 0)
        return PadChoice::Simulated;
    if (trimmed.compare(QLatin1String("screen"), Qt::CaseInsensitive) == 0)
        return PadChoice::Screen;
    return std::nullopt;
}

// The settings file's [QP6100] Driver in the program folder `home`.
QString storedDriver(const QString& home)
{
    QString stored;
    ProfileStore::reg_get_value(ProgramFolder(home).settingsPath(), QStringLiteral("QP6100"),
                                QStringLiteral("Driver"), QStringLiteral("S"), {}, stored);
    return stored;
}

QString homeFolder(const QCommandLineParser& parser)
{
    return parser.isSet(QStringLiteral("home")) ? parser.value(QStringLiteral("home"))
                                                : fallbackFolder().path;
}

// The QP6100 driver of this run: --pad, else the settings file's choice. A name the program
// does not know in the file is reported and the simulated pad is used; on the command line it
// is an error (nullopt).
std::optional<PadChoice> choosePad(const QCommandLineParser& parser, const QString& home)
{
    if (parser.isSet(QStringLiteral("pad")))
        return padChoice(parser.value(QStringLiteral("pad")));
    const QString stored = storedDriver(home);
    if (const std::optional<PadChoice> choice = padChoice(stored))
        return choice;
    printLine(stderr, QStringLiteral("varnelpayment: [QP6100] Driver=%1 is not a pad this "
                                     "program has (simulated, screen); using the simulated pad")
                          .arg(stored));
    return PadChoice::Simulated;
}

// Whether this run uses the screen pad, read from the command line and the settings file
// before the application exists.
bool asksForScreenPad(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QCommandLineParser early;
    addOptions(early);
    if (!early.parse(arguments))
        return false;
    if (early.isSet(QStringLiteral("pad")))
        return padChoice(early.value(QStringLiteral("pad"))) == PadChoice::Screen;
    return padChoice(storedDriver(homeFolder(early))) == PadChoice::Screen;
}

} // namespace

int main(int argc, char** argv)
{
    const bool headless = asksForHeadless(argc, argv);
    const bool windowed = !headless && hasDisplay();
    // A widget application for the tray program, and for the screen pad wherever there is a
    // display; --help and --version work anywhere.
    const bool widgets = windowed || (hasDisplay() && asksForScreenPad(argc, argv));
    std::unique_ptr<QCoreApplication> app = widgets
                                                ? std::make_unique<QApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnelpayment"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));

    QCommandLineParser parser;
    addOptions(parser);
    parser.process(*app);
    if (!parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("varnelpayment: unexpected argument '%1' (see --help)")
                              .arg(parser.positionalArguments().first()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("pad")) && !padChoice(parser.value(QStringLiteral("pad")))) {
        printLine(stderr, QStringLiteral("varnelpayment: --pad takes 'simulated' or 'screen', "
                                         "not '%1'")
                              .arg(parser.value(QStringLiteral("pad"))));
        return 2;
    }
    if (!headless && !windowed) {
        printLine(stderr, QStringLiteral("varnelpayment: no display for the tray program "
                                         "(DISPLAY and WAYLAND_DISPLAY are not set); run "
                                         "with --headless to serve without a window"));
        return 2;
    }

    const QString home = homeFolder(parser);
    // A data folder the program makes for its user is that user's alone.
    const bool ownerOnly = !parser.isSet(QStringLiteral("home")) && fallbackFolder().perUser;
    QString reason;
    if (!makeProgramFolder(home, ownerOnly, &reason)) {
        printLine(stderr, QStringLiteral("varnelpayment: cannot create the program folder %1: %2")
                              .arg(home, reason));
        return 1;
    }
    const ProgramFolder folder(home);
    const bool simulate = parser.isSet(QStringLiteral("simulate"));
    const PadChoice pad = *choosePad(parser, home);
    raiseFileLimit();
    if (windowed)
        return runTrayProgram(static_cast<QApplication&>(*app), folder, simulate, pad);
    return runHeadless(*app, folder, simulate, pad);
}
