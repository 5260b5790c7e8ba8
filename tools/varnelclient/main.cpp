// varnel-client: sends requests to a running payment server and prints its replies, as a
// point-of-sale program would.

#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

namespace {

void printLine(FILE* stream, const QByteArray& text)
{
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

// Reads until a reply has come and the server has been quiet for a moment, or until `wait`
// ends with nothing; many requests are never answered.
QByteArray readReply(QSslSocket& socket, int waitMs)
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

// The text of the element `tag` in `reply`; empty when there is none.
QByteArray element(const QByteArray& reply, const QByteArray& tag)
{
    const qsizetype start = reply.indexOf("<" + tag + ">");
    const qsizetype end = reply.indexOf("</" + tag + ">");
    if (start < 0 || end < start)
        return {};
    return reply.mid(start + tag.size() + 2, end - start - tag.size() - 2);
}

// Whether `value` may stand as a tag's value: it holds neither ';' nor '='.
bool isTagValue(const QString& value)
{
    return !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('='));
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
    parser.addOption({QStringLiteral("key"),
                      QStringLiteral("This till's key (from varnelpayment --add-till), sent as "
                                     "KEY=key; in front of every request."),
                      QStringLiteral("key")});
    parser.addOption({QStringLiteral("pair"),
                      QStringLiteral("Pair this till first, by the code from varnelpayment "
                                     "--pair-till: print the reply and the till's key alone on "
                                     "the next line, and send the requests with it. Ends with "
                                     "status 1 when the server refuses the code."),
                      QStringLiteral("code")});
    parser.addOption({QStringLiteral("tls"),
                      QStringLiteral("Speak TLS (1.2 or later) to the server's TLS port; the "
                                     "server's certificate must be valid for --host.")});
    parser.addOption({QStringLiteral("cafile"),
                      QStringLiteral("With --tls: the CA certificates (PEM) to trust, such as "
                                     "the shop's ca.pem; default: the system's."),
                      QStringLiteral("file")});
    parser.addPositionalArgument(QStringLiteral("request"), QStringLiteral("Request text."),
                                 QStringLiteral("REQUEST..."));
    parser.process(app);

    const QStringList requests = parser.positionalArguments();
    bool portOk = false;
    const quint16 port = parser.value(QStringLiteral("port")).toUShort(&portOk);
    bool waitOk = false;
    const double waitSeconds = parser.value(QStringLiteral("wait")).toDouble(&waitOk);
    const bool tls = parser.isSet(QStringLiteral("tls"));
    QString key = parser.value(QStringLiteral("key"));
    const bool pairing = parser.isSet(QStringLiteral("pair"));
    const QString code = parser.value(QStringLiteral("pair"));
    if ((requests.isEmpty() && !pairing) || !portOk || port == 0 || !waitOk || waitSeconds < 0 ||
        !isTagValue(key) || !isTagValue(code) || (pairing && code.isEmpty()) ||
        (parser.isSet(QStringLiteral("cafile")) && !tls)) {
        printLine(stderr, "varnel-client: give a port from 1 to 65535, a wait of 0 seconds or "
                          "more, a key and a code without ';' or '=', --cafile only with --tls, "
                          "and at least one request or --pair (see --help)");
        return 2;
    }

    QSslSocket socket;
    const QString host = parser.value(QStringLiteral("host"));
    if (tls) {
        QSslConfiguration configuration = socket.sslConfiguration();
        configuration.setProtocol(QSsl::TlsV1_2OrLater);
        if (parser.isSet(QStringLiteral("cafile"))) {
            const QList<QSslCertificate> cas =
                QSslCertificate::fromPath(parser.value(QStringLiteral("cafile")));
            if (cas.isEmpty()) {
                printLine(stderr, "varnel-client: no certificate in " +
                                      parser.value(QStringLiteral("cafile")).toLocal8Bit());
                return 2;
            }
            configuration.setCaCertificates(cas);
        }
        socket.setSslConfiguration(configuration);
        socket.connectToHostEncrypted(host, port);
    } else {
        socket.connectToHost(host, port);
    }
    if (!(tls ? socket.waitForEncrypted(5000) : socket.waitForConnected(5000))) {
        printLine(stderr, "varnel-client: cannot connect: " + socket.errorString().toLocal8Bit());
        return 1;
    }
    if (pairing) {
        socket.write(QStringLiteral("TRANS=PAIR;CODE=%1;").arg(code).toLatin1());
        socket.waitForBytesWritten(5000);
        const QByteArray reply = readReply(socket, static_cast<int>(waitSeconds * 1000));
        printLine(stdout, reply.isEmpty() ? QByteArray("(no reply)") : reply);
        const QByteArray paired = element(reply, "KEY");
        if (paired.isEmpty())
            return 1;
        printLine(stdout, paired);
        key = QString::fromLatin1(paired);
    }
    for (const QString& request : requests) {
        // The key goes first: a request holds its tags in any order.
        const QString sent =
            key.isEmpty() ? request : QStringLiteral("KEY=") + key + QLatin1Char(';') + request;
        socket.write(sent.toLatin1());
        socket.waitForBytesWritten(5000);
        const QByteArray reply = readReply(socket, static_cast<int>(waitSeconds * 1000));
        printLine(stdout, reply.isEmpty() ? QByteArray("(no reply)") : reply);
    }
    socket.disconnectFromHost();
    return 0;
}
