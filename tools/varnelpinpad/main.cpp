// varnel-pinpad: a simulated 1000SE PIN pad on a pseudo-terminal, for integrators and tests.
// The server opens the terminal like a serial port; this program answers on the other end.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include "dukpt.h"
#include "pinpadsimulator.h"

namespace {

enum ExitCode { Done = 0, Failed = 1, Usage = 2 };

// The shortest KSN the host accepts, in hex digits without the leading F's.
constexpr int kShortestReportedKsn = 10;

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

void printLine(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

bool isHex(const QString& text, int digits)
{
    if (text.size() != digits)
        return false;
    for (const QChar ch : text)
        if (!ch.isDigit() && (ch.toUpper() < QLatin1Char('A') || ch.toUpper() > QLatin1Char('F')))
            return false;
    return true;
}

// The options from the command line; none after a usage error, which has been printed.
std::optional<PinPadSimulator::Options> readOptions(const QCommandLineParser& parser)
{
    PinPadSimulator::Options options;
    auto usage = [](const QString& text) {
        printLine(stderr,
                  QStringLiteral("varnel-pinpad: ") + text + QStringLiteral(" (see --help)"));
        return std::nullopt;
    };
    if (parser.isSet(QStringLiteral("pin"))) {
        const QString pin = parser.value(QStringLiteral("pin"));
        bool digits = pin.size() >= 4 && pin.size() <= 12;
        for (const QChar ch : pin)
            digits = digits && ch.isDigit() && ch.unicode() < 0x80;
        if (!digits)
            return usage(QStringLiteral("--pin takes 4 to 12 digits"));
        options.pin = pin.toLatin1();
    }
    if (parser.isSet(QStringLiteral("ksn"))) {
        const QString ksn = parser.value(QStringLiteral("ksn"));
        if (!isHex(ksn, 20))
            return usage(QStringLiteral("--ksn takes 20 hex digits"));
        // The pad reports the KSN without its leading F's, and the host takes no fewer than
        // ten digits.
        qsizetype leadingFs = 0;
        while (leadingFs < ksn.size() && ksn.at(leadingFs).toUpper() == QLatin1Char('F'))
            ++leadingFs;
        if (ksn.size() - leadingFs < kShortestReportedKsn)
            return usage(QStringLiteral("--ksn must keep %1 hex digits after its leading F's")
                             .arg(kShortestReportedKsn));
        options.ksn = QByteArray::fromHex(ksn.toLatin1());
        if (!Dukpt::isTransactionCounter(Dukpt::counterOf(options.ksn)))
            return usage(QStringLiteral("--ksn needs a transaction counter (its last 21 bits) "
                                        "that is not 0 and has at most %1 bits set")
                             .arg(Dukpt::kMaxCounterOnes));
    }
    if (parser.isSet(QStringLiteral("bdk"))) {
        const QString bdk = parser.value(QStringLiteral("bdk"));
        if (!isHex(bdk, 32))
            return usage(QStringLiteral("--bdk takes 32 hex digits"));
        options.baseKey = QByteArray::fromHex(bdk.toLatin1());
    }
    if (parser.isSet(QStringLiteral("cancel")) && parser.isSet(QStringLiteral("silent")))
        return usage(QStringLiteral("--cancel and --silent exclude each other"));
    if (parser.isSet(QStringLiteral("cancel")))
        options.answer = PinPadSimulator::Answer::Cancel;
    if (parser.isSet(QStringLiteral("silent")))
        options.answer = PinPadSimulator::Answer::Silent;
    if (parser.isSet(QStringLiteral("delay"))) {
        bool ok = false;
        const double seconds = parser.value(QStringLiteral("delay")).toDouble(&ok);
        if (!ok || seconds < 0 || seconds > 3600)
            return usage(QStringLiteral("--delay takes seconds from 0 to 3600"));
        options.delayMs = int(seconds * 1000);
    }
    auto count = [&parser](const char* name, int& target) {
        if (!parser.isSet(QLatin1String(name)))
            return true;
        bool ok = false;
        target = parser.value(QLatin1String(name)).toInt(&ok);
        return ok && target >= 0;
    };
    if (!count("refuse", options.refusePackets) || !count("damage", options.damageAnswers))
        return usage(QStringLiteral("--refuse and --damage take a count"));
    options.mute = parser.isSet(QStringLiteral("mute"));
    return options;
}

// A pseudo-terminal in raw mode; the far end stays open here too, so that the near end keeps
// working while the server has the port closed.
struct Terminal
{
    int near = -1;
    int far = -1;
    QString farName;
};

std::optional<Terminal> openTerminal()
{
    Terminal terminal;
    char name[256] = {};
    termios raw = {};
    cfmakeraw(&raw);
    if (::openpty(&terminal.near, &terminal.far, name, &raw, nullptr) != 0)
        return std::nullopt;
    ::fcntl(terminal.near, F_SETFL, ::fcntl(terminal.near, F_GETFL) | O_NONBLOCK);
    terminal.farName = QString::fromLocal8Bit(name);
    return terminal;
}

bool linkTo(const QString& link, const QString& target)
{
    const QFileInfo existing(link);
    if (existing.isSymLink())
        QFile::remove(link);
    else if (existing.exists())
        return false;
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

// How long a full terminal buffer may hold up a write before the rest is dropped: nobody is
// reading the line.
constexpr int kWritableWaitMs = 2000;

void writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
        } else if (n < 0 && errno == EAGAIN) {
            // The buffer is full: sleep until the host has read some of it.
            pollfd writable{fd, POLLOUT, 0};
            if (::poll(&writable, 1, kWritableWaitMs) <= 0 && errno != EINTR) {
                printLine(stderr, QStringLiteral("varnel-pinpad: the line is not read; %1 "
                                                 "bytes dropped")
                                      .arg(bytes.size() - done));
                return;
            }
        } else if (n < 0 && errno != EINTR) {
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel-pinpad"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "A simulated 1000SE PIN pad on a pseudo-terminal. Creates the terminal, links PATH to "
        "it and prints \"ready PATH\"; point a Comm Port at PATH (for example COM1=PATH in "
        "section [SerialPorts] of varnelpayment.ini). Each PIN request is answered after the "
        "delay with a DUKPT PIN block (ISO format 0, the PIN key derived from the base key and "
        "the KSN, whose counter advances per PIN block to the next value with at most ten bits "
        "set). Once the counter has run out, PIN requests are answered with status 00001 and "
        "no PIN block. Prints what the pad shows and does, one line each. SIGINT or SIGTERM "
        "ends it and removes PATH.\n\n"
        "Test flags: --refuse N answers NAK to the first N packets; --damage N sends the first "
        "N answers with a wrong check byte; --mute answers nothing at all."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("link"),
                      QStringLiteral("Path of the link to the terminal (required)."),
                      QStringLiteral("path")});
    parser.addOption({QStringLiteral("pin"),
                      QStringLiteral("The PIN the customer keys (default 1234)."),
                      QStringLiteral("digits")});
    parser.addOption({QStringLiteral("ksn"),
                      QStringLiteral("Key serial number of the first PIN block (default "
                                     "FFFF9876543210E00001)."),
                      QStringLiteral("hex20")});
    parser.addOption({QStringLiteral("bdk"),
                      QStringLiteral("Base derivation key (default the test key "
                                     "0123456789ABCDEFFEDCBA9876543210)."),
                      QStringLiteral("hex32")});
    parser.addOption(
        {QStringLiteral("cancel"), QStringLiteral("The customer cancels every PIN entry (EOT).")});
    parser.addOption({QStringLiteral("silent"),
                      QStringLiteral("The customer never finishes: PIN requests get no answer.")});
    parser.addOption({QStringLiteral("delay"),
                      QStringLiteral("Seconds from a PIN request to its answer (default 0.5)."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("refuse"), QStringLiteral("Test: NAK the first N packets."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("damage"),
                      QStringLiteral("Test: damage the check byte of the first N answers."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("mute"), QStringLiteral("Test: answer nothing at all.")});
    parser.process(app);

    const QString link = parser.value(QStringLiteral("link"));
    if (link.isEmpty() || !parser.positionalArguments().isEmpty()) {
        printLine(stderr, QStringLiteral("varnel-pinpad: give --link PATH and no other "
                                         "arguments (see --help)"));
        return Usage;
    }
    const std::optional<PinPadSimulator::Options> options = readOptions(parser);
    if (!options)
        return Usage;

    const std::optional<Terminal> terminal = openTerminal();
    if (!terminal) {
        printLine(stderr, QStringLiteral("varnel-pinpad: cannot create a pseudo-terminal: %1")
                              .arg(QString::fromLocal8Bit(std::strerror(errno))));
        return Failed;
    }
    if (!linkTo(link, terminal->farName)) {
        printLine(stderr,
                  QStringLiteral("varnel-pinpad: cannot link %1 to %2: %3")
                      .arg(link, terminal->farName, QString::fromLocal8Bit(std::strerror(errno))));
        return Failed;
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        auto* stop = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(stop, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
        struct sigaction action = {};
        action.sa_handler = onTerminationSignal;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
    }

    const int near = terminal->near;
    PinPadSimulator pad(
        *options, [near](const QByteArray& bytes) { writeAll(near, bytes); },
        [](const QString& line) { printLine(stdout, line); });
    QSocketNotifier incoming(near, QSocketNotifier::Read);
    QObject::connect(&incoming, &QSocketNotifier::activated, &pad, [near, &pad] {
        char buffer[512];
        const ssize_t n = ::read(near, buffer, sizeof buffer);
        if (n > 0)
            pad.receive(QByteArray(buffer, int(n)));
    });

    printLine(stdout, QStringLiteral("ready ") + link);
    const int status = app.exec();
    QFile::remove(link);
    ::close(terminal->far);
    ::close(near);
    return status;
}
