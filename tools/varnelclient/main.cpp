// varnel-client: sends requests to a running payment server and prints its replies, as a
// point-of-sale program would.

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpSocket>

namespace {

void printLine(FILE* stream, const QByteArray& text)
{
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Reads until a reply has come and the server has been quiet for a moment, or until `wait`
// ends with nothing; many requests are never answered.
QByteArray readReply(QTcpSocket& socket, int waitMs)
{
    QByteArray reply;
    QDeadlineTimer deadline(waitMs);
    while (!deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState) {
        const int step = reply.isEmpty() ? static_cast<int>(deadline.remainingTime()) : 200;
        if (!socket.waitForReadyRead(qMax(1, step)))
            if (!reply.isEmpty())
                break;
        reply += socket.readAll();
    }
    return reply + socket.readAll();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("varnel-client"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VARNEL_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends each REQUEST (for example \"TRANS=VERSION;\") on one connection to the payment "
        "server and prints the reply, or \"(no reply)\" when none comes within the wait."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("host"), QStringLiteral("Server address (default 127.0.0.1)."),
                      QStringLiteral("address"), QStringLiteral("127.0.0.1")});
    parser.addOption({QStringLiteral("port"), QStringLiteral("Server port (default 31420)."),
                      QStringLiteral("port"), QStringLiteral("31420")});
    parser.addOption({QStringLiteral("wait"),
                      QStringLiteral("Seconds to wait for each reply (default 5; a card swipe "
                                     "or signature may need up to its TIMER)."),
                      QStringLiteral("seconds"), QStringLiteral("5")});
    parser.addPositionalArgument(QStringLiteral("request"), QStringLiteral("Request text."),
                                 QStringLiteral("REQUEST..."));
    parser.process(app);

    const QStringList requests = parser.positionalArguments();
    bool portOk = false;
    const quint16 port = parser.value(QStringLiteral("port")).toUShort(&portOk);
    bool waitOk = false;
    const double waitSeconds = parser.value(QStringLiteral("wait")).toDouble(&waitOk);
    if (requests.isEmpty() || !portOk || port == 0 || !waitOk || waitSeconds < 0) {
        printLine(stderr, "varnel-client: give a port from 1 to 65535, a wait of 0 seconds or "
                          "more, and at least one request (see --help)");
        return 2;
    }

    QTcpSocket socket;
    socket.connectToHost(parser.value(QStringLiteral("host")), port);
    if (!socket.waitForConnected(5000)) {
        printLine(stderr, "varnel-client: cannot connect: " + socket.errorString().toLocal8Bit());
        return 1;
    }
    for (const QString& request : requests) {
        socket.write(request.toLatin1());
        socket.waitForBytesWritten(5000);
        const QByteArray reply = readReply(socket, static_cast<int>(waitSeconds * 1000));
        printLine(stdout, reply.isEmpty() ? QByteArray("(no reply)") : reply);
    }
    socket.disconnectFromHost();
    return 0;
}
