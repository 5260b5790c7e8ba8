// varnelpayment: the payment server program, as the tray program on a desktop or headless.

#include <cstdio>
#include <memory>
#include <optional>

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "app/outboxcommand.h"
#include "app/paymentserver.h"
#include "app/programoptions.h"
#include "app/terminationsignals.h"
#include "app/tillcommand.h"
#include "core/clock.h"
#include "core/defaultprogramfolder.h"
#include "core/scheduler.h"
#include "log/textviewer.h"
#include "metrics/servicenotifier.h"
#include "pad/filechooser.h"
#include "screenpad/screenpad.h"
#include "shell/dialogfilechooser.h"
#include "shell/launchertextviewer.h"
#include "shell/systemtrayicon.h"
#include "shell/trayprogram.h"
#include "shell/urllauncher.h"
#include "shell/widgetquestionbox.h"
#include "tls/certificatecommand.h"

namespace {

// exit() rather than quit(): a widget application's quit() first asks every window to close,
// which would put up the close box (or, for the screen pad's window, keep the program running).
void endProgram()
{
    QCoreApplication::exit(0);
}

void printLines(FILE* stream, const QStringList& lines)
{
    for (const QString& line : lines)
        std::fputs(qPrintable(line + QLatin1Char('\n')), stream);
    std::fflush(stream);
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

Devices devicesOf(bool screenPad, FileChooser& fileChooser, TextViewer& textViewer)
{
    Devices devices{{}, fileChooser, textViewer};
    if (screenPad)
        devices.makePad = [](const Qp6100Settings& settings, ActivityLog& log) {
            return std::make_unique<ScreenPad>(settings, log);
        };
    return devices;
}

int runHeadless(QCoreApplication& app, PaymentServer& server)
{
    // The screen pad's window may be the only one; closing it must not end the service.
    if (auto* widgets = qobject_cast<QApplication*>(&app))
        widgets->setQuitOnLastWindowClosed(false);
    routeTerminationSignals(app, endProgram);
    const StartupReport report = server.start();
    printLines(stderr, report.errorLines());
    // A service without its port is of no use: it has said why and ends.
    if (!report.listening()) {
        server.shutdown();
        return 1;
    }
    printLines(stdout, server.startedLines());
    // systemd learns that the service listens, and its watchdog hears from the event loop.
    ServiceNotifier notifier;
    notifier.ready(server.statusLine());
    const int status = app.exec();
    notifier.stopping();
    server.shutdown();
    return status;
}

int runTrayProgram(QApplication& app, PaymentServer& server, DesktopUrlLauncher& launcher)
{
    // The window hides into the notification area; closing it must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    WidgetQuestionBox questionBox;
    SystemTrayIcon tray;
    TrayProgram program(
        server, DesktopHost{questionBox, tray, launcher,
                            QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath(),
                            server.folder().path(), endProgram});
    routeTerminationSignals(app, endProgram);
    // Without its port the program goes on, so that the port can be corrected in the window.
    printLines(stderr, program.start().errorLines());
    printLines(stdout, server.startedLines());
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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("varnelpayment"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    ProgramOptions options(fallbackFolder());
    if (!options.parse(arguments))
        return options.parseFailureStatus();
    if (options.asksForHelpOrVersion()) {
        QCoreApplication app(argc, argv);
        options.showHelpOrVersion();
    }
    // The certificate commands do their work and end the program.
    if (const std::optional<int> status = runCertificateCommand(options.parser(), options.home()))
        return *status;
    if (const std::optional<int> status = runOutboxCommand(options.parser(), options.home()))
        return *status;
    if (const std::optional<int> status =
            runTillCommand(options.parser(), options.home(), options.ownerOnlyHome()))
        return *status;
    const bool windowed = !options.headless() && hasDisplay();
    if (const std::optional<int> status = options.refusal(hasDisplay()))
        return *status;

    QString reason;
    if (!makeProgramFolder(options.home(), options.ownerOnlyHome(), &reason)) {
        printLines(stderr, {QStringLiteral("varnelpayment: cannot create the program folder "
                                           "%1: %2")
                                .arg(options.home(), reason)});
        return 1;
    }
    const ProgramFolder folder(options.home());
    const Settings stored = SettingsFile::read(folder.settingsPath());
    const bool screenPad = options.screenPad(stored.qp6100.driver);
    // A widget application for the tray program, and for the screen pad wherever there is a
    // display.
    std::unique_ptr<QCoreApplication> app = windowed || (screenPad && hasDisplay())
                                                ? std::make_unique<QApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    SystemClock clock;
    QtScheduler scheduler;
    if (!windowed) {
        // Without a window: no file dialog, and the desktop's opener for View Log.
        NoFileChooser fileChooser;
        DesktopTextViewer textViewer;
        PaymentServer server(folder, stored, clock, scheduler,
                             devicesOf(screenPad, fileChooser, textViewer), options.simulate());
        return runHeadless(*app, server);
    }
    // With a window: the file dialog, and the desktop's program for text files for View Log.
    DialogFileChooser fileChooser;
    DesktopUrlLauncher launcher;
    LauncherTextViewer textViewer(launcher);
    PaymentServer server(folder, stored, clock, scheduler,
                         devicesOf(screenPad, fileChooser, textViewer), options.simulate());
    return runTrayProgram(static_cast<QApplication&>(*app), server, launcher);
}
