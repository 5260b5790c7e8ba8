// varnelpayment: the payment server program.

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include "core/clock.h"
#include "core/eventpump.h"
#include "core/paymentserver.h"
#include "core/programfolder.h"
#include "pinpad/qtserialprobe.h"
#include "pinpad/serialpinpad.h"
#include "request/requestserver.h"

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
    const ProgramFolder folder(home);
    // The devices on this machine: the 1000SE on a serial port, and QSerialPort for the scan.
    // The pad reads the request service's shared waiting limit once it runs.
    PaymentServer* running = nullptr;
    SerialPinPad pinPad(folder.settingsPath(), pump,
                        [&running] { return running->requests().padTimeout(); });
    QtSerialProbe serialProbe;
    PaymentServer server{folder, clock, pump, pinPad, serialProbe};
    running = &server;
    routeTerminationSignals(app, pump);

    QString reason;
    if (!server.start(parser.isSet(QStringLiteral("simulate")), &reason)) {
        printLine(stderr, QStringLiteral("varnelpayment: cannot listen on port [%1]: %2")
                              .arg(server.settings().txtSockport, reason));
        server.shutdown();
        return 1;
    }
    printLine(stdout,
              QStringLiteral("Varnel Payment Server %1").arg(QStringLiteral(VARNEL_VERSION)));
    printLine(stdout, QStringLiteral("Program folder: %1").arg(server.folder().path()));
    printLine(stdout,
              QStringLiteral("Listening on port: %1").arg(server.requests().listeningPort()));

    const int status = app.exec();
    server.shutdown();
    return status;
}
