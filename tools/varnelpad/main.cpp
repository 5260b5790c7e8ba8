// varnel-pad: stands at the simulated signature pad of a running server. Swipes cards, signs,
// shows what the pad shows and holds, and makes the pad's operations fail, through the pad's
// control port on 127.0.0.1.

#include <cstdio>
#include <optional>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>

#include "pad/padcontrolprotocol.h"
#include "pad/sigcomp.h"
#include "pad/signaturefile.h"

namespace {

constexpr int kConnectMs = 3000;
// Extra time for the answer beyond the pad's own wait.
constexpr int kAnswerGraceMs = 5000;

enum ExitCode { Done = 0, NotDone = 1, Usage = 2 };

void printLine(FILE* stream, const QString& text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
    std::fflush(stream);
}

struct Command
{
    QStringList words;
    int waitMs = 0;
    QString doneText;
    QString timeoutText;
};

// Turns the command line into a control request; an empty request on a usage error.
std::optional<Command> buildCommand(const QStringList& args, int waitSeconds)
{
    const QString name = args.value(0);
    const int waitMs = waitSeconds * 1000;
    const QString waitText = QString::number(waitMs);
    if (name == QStringLiteral("swipe") && (args.size() == 2 || args.size() == 3))
        return Command{{name, waitText, args.at(1), args.value(2)},
                       waitMs,
                       QStringLiteral("Card swiped."),
                       QStringLiteral("varnel-pad: the pad did not show its swipe form within %1 "
                                      "seconds; the card was not swiped")
                           .arg(waitSeconds)};
    if (name == QStringLiteral("sign") && args.size() == 2)
        return Command{{name, waitText, QString()},
                       waitMs,
                       QStringLiteral("Signed."),
                       QStringLiteral("varnel-pad: the pad did not show its signing form within "
                                      "%1 seconds; nothing was signed")
                           .arg(waitSeconds)};
    if (name == QStringLiteral("state") && args.size() == 1)
        return Command{{name}, 0, {}, {}};
    if (name == QStringLiteral("wait-form") && args.size() == 2)
        return Command{{name, args.at(1), waitText},
                       waitMs,
                       QStringLiteral("The pad shows %1.").arg(args.at(1)),
                       QStringLiteral("varnel-pad: the pad did not show %1 within %2 seconds")
                           .arg(args.at(1))
                           .arg(waitSeconds)};
    if (name == QStringLiteral("set") && args.size() == 3)
        return Command{args, 0, {}, {}};
    if ((name == QStringLiteral("fail") || name == QStringLiteral("throw")) &&
        (args.size() == 3 || args.size() == 4))
        return Command{args, 0, {}, {}};
    if (name == QStringLiteral("clear-faults") && args.size() == 1)
        return Command{args, 0, {}, {}};
    return std::nullopt;
}

// The pen data of the signature file at `path` ("-" for standard input), or the reason it is
// not a signature.
std::optional<QString> readSignature(const QString& path, QString& error)
{
    const bool fromStdin = path == QStringLiteral("-");
    QFile file(fromStdin ? QString() : path);
    const bool opened =
        fromStdin ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    if (!opened) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    const SignatureFile signature = SignatureFile::parse(file.readAll());
    if (!signature.error.isEmpty()) {
        error = path + QStringLiteral(": ") + signature.error;
        return std::nullopt;
    }
    return Sigcomp::encode(signature.strokes);
}

int run(quint16 port, const Command& command)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(kConnectMs)) {
        printLine(stderr, QStringLiteral("varnel-pad: no simulated pad on 127.0.0.1 port %1 (%2); "
                                         "is the server running, and on which padControlPort?")
                              .arg(port)
                              .arg(socket.errorString()));
        return NotDone;
    }
    socket.write(PadControlProtocol::encodeRequest(command.words));

    QDeadlineTimer deadline(command.waitMs + kAnswerGraceMs);
    for (;;) {
        while (socket.canReadLine()) {
            const QString line = QString::fromUtf8(socket.readLine()).trimmed();
            if (!PadControlProtocol::isClosingLine(line)) {
                printLine(stdout, line);
                continue;
            }
            if (line == QStringLiteral("ok")) {
                if (!command.doneText.isEmpty())
                    printLine(stdout, command.doneText);
                return Done;
            }
            if (line == QStringLiteral("timeout"))
                printLine(stderr, command.timeoutText);
            else
                printLine(stderr, QStringLiteral("varnel-pad: ") + line.mid(6));
            return NotDone;
        }
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime()))) {
            printLine(stderr, QStringLiteral("varnel-pad: the pad did not answer"));
            return NotDone;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel-pad"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stands at the simulated QP6100 pad of a running varnelpayment.\n\n"
        "Commands:\n"
        "  swipe TRACK1 [TRACK2]          swipe a card: the tracks go into the pad's TRACK1 and\n"
        "                                 TRACK2 when it shows (or next shows) its swipe form\n"
        "  sign FILE                      sign with the pen strokes of FILE (\"-\": standard\n"
        "                                 input) when the pad shows (or next shows) its signing\n"
        "                                 form padSig. FILE holds one stroke per line, each\n"
        "                                 stroke pen points x,y separated by blanks, x 0 to\n"
        "                                 399, y 0 to 119 from the top left; lines starting\n"
        "                                 with # are comments. At most 2000 points.\n"
        "  state                          print the port, the form on the screen and the six\n"
        "                                 variables, one name=value a line\n"
        "  wait-form FORM                 wait until the pad shows FORM (padWelcome, padStart,\n"
        "                                 padSig, padDisconnect)\n"
        "  set NAME VALUE                 set a pad variable as the pad's script would\n"
        "  fail OPERATION STATUS [COUNT]  the next COUNT calls (default 1) of a driver\n"
        "                                 operation answer STATUS instead of working\n"
        "  throw OPERATION CODE [COUNT]   the next COUNT calls of an operation fail outright\n"
        "                                 with error CODE\n"
        "  clear-faults                   forget the faults not yet used\n\n"
        "Operations: OpenPort ClosePort IsPortOpen ShowForm RunForm LoadScript SaveSignature\n"
        "GetVariable SetVariable. Exit status: 0 done, 1 not done (time-out, refused, no pad),\n"
        "2 usage."));
    parser.addHelpOption();
    parser.addOption({QStringLiteral("port"),
                      QStringLiteral("The pad's control port (setting padControlPort of section "
                                     "Simulator; default %1).")
                          .arg(PadControlProtocol::kDefaultPort),
                      QStringLiteral("N"), QString::number(PadControlProtocol::kDefaultPort)});
    parser.addOption({QStringLiteral("wait"),
                      QStringLiteral("How long swipe, sign and wait-form wait for the form "
                                     "(default 30)."),
                      QStringLiteral("S"), QStringLiteral("30")});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("See above."),
                                 QStringLiteral("COMMAND [ARGUMENTS]"));
    // Arguments after the command are the command's, even when they start with "-".
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(QStringLiteral("port")).toUInt(&portOk);
    bool waitOk = false;
    const int wait = parser.value(QStringLiteral("wait")).toInt(&waitOk);
    std::optional<Command> command = buildCommand(parser.positionalArguments(), wait);
    if (!portOk || port == 0 || port > 65535 || !waitOk || wait < 0 || wait > 600 || !command) {
        printLine(stderr, QStringLiteral("varnel-pad: bad command line (see varnel-pad --help)"));
        return Usage;
    }
    // A signature is read and checked before the pad is reached: bad input sends nothing.
    if (command->words.first() == QStringLiteral("sign")) {
        QString error;
        const std::optional<QString> sigcomp =
            readSignature(parser.positionalArguments().at(1), error);
        if (!sigcomp) {
            printLine(stderr, QStringLiteral("varnel-pad: ") + error);
            return Usage;
        }
        command->words[2] = *sigcomp;
    }
    return run(quint16(port), *command);
}
