// End-to-end: signature capture on the real varnelpayment, signed with varnel-pad, read back
// by ImageMagick, and uploaded to a real FTP server.
#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include "ftpserverprocess.h"
#include "pad/pcxwriter.h"
#include "pad/signaturefile.h"
#include "pad/signaturerenderer.h"
#include "pade2e.h"
#include "scriptedftpserver.h"
#include "sshdprocess.h"
#include "testfiles.h"

namespace {

const QString kExample = QStringLiteral(VARNEL_EXAMPLE_SIGNATURE);
const QByteArray kFailedReply("<QP6100><ERROR>Error Getting Signature</ERROR></QP6100>");
const QByteArray kTimeoutReply("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");
// The login of the outbox tests' FTP servers.
const QString kUser = QStringLiteral("till");
const QString kPassword = QStringLiteral("s3cret");

QByteArray savedReply(const QString& path)
{
    return "<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>" + path.toLatin1() + "</SIGPATH></QP6100>";
}

QByteArray queuedReply(const QString& path)
{
    return "<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>" + path.toLatin1() +
           "</SIGPATH><UPLOAD>QUEUED</UPLOAD></QP6100>";
}

// One HTTP GET to the server's metrics port: the whole answer, head and body.
QByteArray httpGet(quint16 port, const QByteArray& path)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(3000))
        return {};
    socket.write("GET " + path + " HTTP/1.1\r\nHost: box\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (socket.waitForReadyRead(3000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

// Waits up to `limitMs` for `done`, looking every 100 ms.
bool eventually(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done() && elapsed.elapsed() < limitMs)
        QThread::msleep(100);
    return done();
}

// The picture the example signature must give.
InkBitmap exampleBitmap()
{
    return renderSignature(SignatureFile::parse(TestFiles::readAll(kExample)).strokes);
}

// ImageMagick's reading of a picture file as grey levels, row by row; empty when it fails.
QByteArray greyLevels(const QString& path, int width, int height)
{
    QProcess convert;
    convert.start(QStringLiteral("/usr/bin/convert"),
                  {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("gray:-")});
    if (!convert.waitForFinished(10000) || convert.exitCode() != 0)
        return {};
    const QByteArray grey = convert.readAllStandardOutput();
    return grey.size() == qsizetype(width) * height ? grey : QByteArray();
}

class SignatureE2E : public PadE2E
{
protected:
    QString sigFile(const QString& name) const
    {
        return QDir::toNativeSeparators(m_server->home() + QStringLiteral("/signatures/") + name);
    }
    // Signs with the example when the pad next shows its signing form, sends the request and
    // returns the reply once `expected`'s length has arrived (or whatever came in time).
    QByteArray signAndRequest(TestClient& client, const QByteArray& request,
                              const QByteArray& expected, int timeoutMs = 15000)
    {
        auto signer = startTool({QStringLiteral("sign"), kExample});
        client.send(request);
        const QByteArray reply = client.receive(timeoutMs, expected.size());
        const ToolRun run = finish(*signer);
        EXPECT_EQ(run.exitCode, 0) << qPrintable(run.err);
        EXPECT_EQ(run.out, QStringLiteral("Signed.\n"));
        return reply;
    }
    // Runs one of the built programs to its end.
    static ToolRun runProgram(const QString& name, const QStringList& arguments)
    {
        QProcess program;
        program.start(ServerProcess::binDir() + QLatin1Char('/') + name, arguments);
        return finish(program);
    }
    // The names of the files in a folder of the signatures folder.
    QStringList filesIn(const QString& folder) const
    {
        return QDir(m_server->home() + QStringLiteral("/signatures/") + folder)
            .entryList(QDir::Files);
    }
    // Signs and asks for an upload of the picture UNIQU `name` within `timer` seconds.
    QByteArray signAndUpload(TestClient& client, const QByteArray& name, const QByteArray& reply,
                             int timer = 5)
    {
        return signAndRequest(client,
                              "TRANS=QP6100;ACTION=2;UNIQU=" + name +
                                  ";DOFTP=Y;FTPPATH=/;TIMER=" + QByteArray::number(timer) + ";",
                              reply);
    }
    // The FTP settings of a server where nobody listens, with the login of kUser/kPassword.
    void setFtpToNobody()
    {
        setFtp(QStringLiteral("127.0.0.1:") + QString::number(ServerProcess::freePort()), kUser,
               kPassword);
    }
    // Whether a picture taken as `name` waits in the outbox with these bytes.
    bool waitsInOutbox(const QString& name, const QByteArray& bytes) const
    {
        const QDir outbox(m_server->home() + QStringLiteral("/signatures/outbox"));
        for (const QString& file : outbox.entryList({QStringLiteral("*-") + name}, QDir::Files))
            if (TestFiles::readAll(outbox.filePath(file)) == bytes)
                return true;
        return false;
    }
    // The FTP section of the settings file, which the upload reads at every upload.
    void setFtp(const QString& url, const QString& user, const QString& password)
    {
        const QString ini = m_server->home() + QStringLiteral("/varnelpayment.ini");
        // The FTP section is written last, so it replaces the one written before.
        QByteArray text = TestFiles::readAll(ini);
        const qsizetype ftp = text.indexOf("[FTP]");
        if (ftp >= 0)
            text.truncate(ftp);
        text += "[FTP]\r\nftpUrl=" + url.toLatin1() + "\r\nftpUsername=" + user.toLatin1() +
                "\r\nftpPassword=" + password.toLatin1() + "\r\n";
        TestFiles::writeAll(ini, text);
    }
};

TEST_F(SignatureE2E, ASignatureBecomesAnOwnerOnlyPictureThatImageMagickReads)
{
    startServer({QStringLiteral("--simulate")});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    const QString path = sigFile(QStringLiteral("ab12.pcx"));
    EXPECT_EQ(signAndRequest(client,
                             "TRANS=QP6100;ACTION=2;UNIQU=Ab12;ACCOUNT=4000;NAME=Jane Doe;"
                             "TOTAL=12.34;TIMER=20;",
                             savedReply(path)),
              savedReply(path));
    EXPECT_EQ(TestFiles::unixMode(path), 0600);
    EXPECT_EQ(TestFiles::unixMode(QFileInfo(path).absolutePath()), 0700);

    QProcess identify;
    identify.start(QStringLiteral("/usr/bin/identify"), {path});
    ASSERT_TRUE(identify.waitForFinished(10000));
    EXPECT_TRUE(identify.readAllStandardOutput().contains(" PCX 400x120 "));
    // Ink exactly on the strokes, white everywhere else.
    const QByteArray grey = greyLevels(path, 400, 120);
    ASSERT_FALSE(grey.isEmpty());
    const InkBitmap expected = exampleBitmap();
    int ink = 0;
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 400; ++x) {
            const int level = uchar(grey.at(y * 400 + x));
            ASSERT_EQ(level, expected.ink(x, y) ? 0 : 255) << "pixel " << x << "," << y;
            ink += level == 0;
        }
    }
    EXPECT_GT(ink, 500);

    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("clear_padVars: end")));
    const QStringList log = server().logEntriesFrom(QStringLiteral("qp6100_delete_signature: ") +
                                                    path + QStringLiteral(" doesn't exist"));
    EXPECT_EQ(
        log.mid(1, 10),
        (QStringList{
            QStringLiteral("setVar: ACCOUNT Successful"),
            QStringLiteral("setVar: FULLNAME Successful"), QStringLiteral("setVar: TOTAL"),
            QStringLiteral("setVar: TOTAL Successful"),
            QStringLiteral("qp6100_get_signature: timeout=[20]"), QStringLiteral("Get Signature:"),
            QStringLiteral("setVar: SIGCOMP flush Successful"), QStringLiteral("Simulator: Signed"),
            QStringLiteral("qp6100_get_signature: sigData captured"),
            QStringLiteral("qp6100_get_signature: signature save file")}));

    // The next request for the same name removes the picture first; nobody signs this time.
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=2;UNIQU=AB12;TIMER=1;", kTimeoutReply),
              kTimeoutReply);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(server().logEntries().contains(QStringLiteral("qp6100_get_signature: Timeout")));
    EXPECT_EQ(padState().value(1), QStringLiteral("form=padWelcome"));

    // Pen data the driver cannot read writes no picture.
    client.send("TRANS=QP6100;ACTION=2;UNIQU=AB12;TIMER=10;");
    ASSERT_EQ(tool({QStringLiteral("wait-form"), QStringLiteral("padSig")}).exitCode, 0);
    ASSERT_EQ(tool({QStringLiteral("set"), QStringLiteral("SIGCOMP"), QStringLiteral("scribble")})
                  .exitCode,
              0);
    EXPECT_EQ(client.receive(5000, kFailedReply.size()), kFailedReply);
    EXPECT_TRUE(server().logEntries().contains(
        QStringLiteral("qp6100_get_signature: signature save failed")));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(SignatureE2E, BadSignatureFilesAreRefusedBeforeThePadIsReached)
{
    // A pad that records whether anyone came.
    QTcpServer pad;
    ASSERT_TRUE(pad.listen(QHostAddress::LocalHost));
    m_controlPort = pad.serverPort();
    QTemporaryDir dir;
    const struct
    {
        QByteArray text;
        QString message;
    } cases[] = {
        {"10,10 400,10\n",
         QStringLiteral("line 1: pen point 400,10 lies outside the signing area")},
        {"# a comment\n10,10 20;20\n", QStringLiteral("line 2: \"20;20\" is not a pen point")},
        {"", QStringLiteral("the file holds no pen points")},
    };
    for (const auto& c : cases) {
        const QString file = dir.filePath(QStringLiteral("sig.txt"));
        TestFiles::writeAll(file, c.text);
        const ToolRun run = tool({QStringLiteral("sign"), file});
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_TRUE(run.err.startsWith(QStringLiteral("varnel-pad: ") + file +
                                       QStringLiteral(": ") + c.message))
            << qPrintable(run.err);
    }
    // Standard input is read the same way; a missing file is named.
    auto fromStdin = startTool({QStringLiteral("sign"), QStringLiteral("-")});
    fromStdin->write("5,5 5,500\n");
    fromStdin->closeWriteChannel();
    const ToolRun piped = finish(*fromStdin);
    EXPECT_EQ(piped.exitCode, 2);
    EXPECT_TRUE(piped.err.startsWith(QStringLiteral("varnel-pad: -: line 1: pen point 5,500")))
        << qPrintable(piped.err);
    const ToolRun missing = tool({QStringLiteral("sign"), dir.filePath(QStringLiteral("none"))});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("cannot read"))) << qPrintable(missing.err);
    EXPECT_FALSE(pad.waitForNewConnection(100));
}

TEST_F(SignatureE2E, UploadsArriveWholeOrKeepTheLocalFileAndNeverStopTheServer)
{
    const QString user = QStringLiteral("us:er@x");
    const QString password = QStringLiteral("p@ss:w rd");
    FtpServerProcess ftp(user, password);
    ASSERT_TRUE(ftp.start());
    ASSERT_TRUE(QDir(ftp.root()).mkdir(QStringLiteral("in box")));
    // A server that accepts connections and never says a word.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    ScriptedFtpServer dripping(ScriptedFtpServer::Mode::DripsConfirmation);

    startServer({QStringLiteral("--simulate")});
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    const QString ftpAt = QStringLiteral("127.0.0.1:") + QString::number(ftp.port());

    // Uploaded: the remote name is the path and the file name in lower case, each as the text
    // it is; the local file is gone once the server has confirmed the whole file.
    setFtp(ftpAt, user, password);
    const QString path = sigFile(QStringLiteral("ab %c#?.pcx"));
    EXPECT_EQ(signAndRequest(client,
                             "TRANS=QP6100;ACTION=2;UNIQU=Ab %c#?;DOFTP=y;FTPPATH=/in box/;"
                             "TIMER=10;",
                             savedReply(path)),
              savedReply(path));
    EXPECT_EQ(TestFiles::readAll(ftp.root() + QStringLiteral("/in box/ab %c#?.pcx")),
              writePcx(exampleBitmap()));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(
        server().logEntries().contains(QStringLiteral("sig_ftp: url=[ftp://") + ftpAt +
                                       QStringLiteral("] user=[us:er@x] pass=[********] ")));

    // A store the server confirms late, but within the limit, is a success.
    ScriptedFtpServer late(ScriptedFtpServer::Mode::ConfirmsLate);
    setFtp(QStringLiteral("127.0.0.1:") + QString::number(late.port()), user, password);
    const QString latePath = sigFile(QStringLiteral("late.pcx"));
    EXPECT_EQ(signAndRequest(client, "TRANS=QP6100;ACTION=2;UNIQU=late;DOFTP=Y;FTPPATH=/;TIMER=10;",
                             savedReply(latePath)),
              savedReply(latePath));
    EXPECT_EQ(late.stored(), writePcx(exampleBitmap()));
    EXPECT_FALSE(QFile::exists(latePath));

    const struct
    {
        const char* what;
        QString url;
        QString password;
        QByteArray path;
        int timer;
    } failures[] = {
        {"wrong password", ftpAt, QStringLiteral("wrong"), "/in box/", 10},
        {"missing remote folder", ftpAt, password, "/nosuch/", 10},
        {"nobody listening",
         QStringLiteral("ftp://127.0.0.1:") + QString::number(ServerProcess::freePort()), password,
         "/", 10},
        {"a server that never answers",
         QStringLiteral("ftp://127.0.0.1:") + QString::number(silent.serverPort()), password, "/",
         2},
        {"a server that drips its confirmation a byte at a time",
         QStringLiteral("127.0.0.1:") + QString::number(dripping.port()), password, "/", 3},
    };
    for (const auto& c : failures) {
        SCOPED_TRACE(c.what);
        setFtp(c.url, user, c.password);
        const QString local = sigFile(QStringLiteral("f1.pcx"));
        auto signer = startTool({QStringLiteral("sign"), kExample});
        QElapsedTimer sinceRequest;
        sinceRequest.start();
        client.send("TRANS=QP6100;ACTION=2;UNIQU=F1;DOFTP=Y;FTPPATH=" + c.path +
                    ";TIMER=" + QByteArray::number(c.timer) + ";");
        EXPECT_EQ(finish(*signer).exitCode, 0);
        // While the upload runs, another client is served at once.
        ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("sig_ftp: inetCmd=[PUT ") + local +
                                             QStringLiteral(" ") + QString::fromLatin1(c.path) +
                                             QStringLiteral("f1.pcx]")));
        TestClient other;
        ASSERT_TRUE(other.connectTo(server().port()));
        qint64 slowestVersion = 0;
        QByteArray reply;
        while (reply.size() < kFailedReply.size() &&
               sinceRequest.elapsed() < c.timer * 1000 + 5000) {
            QElapsedTimer version;
            version.start();
            EXPECT_EQ(other.transact("TRANS=VERSION;", kVersionReply), kVersionReply);
            slowestVersion = std::max(slowestVersion, version.elapsed());
            reply += client.receive(200, kFailedReply.size() - reply.size());
        }
        EXPECT_LT(slowestVersion, 1000);
        other.close();

        EXPECT_EQ(reply, kFailedReply);
        // Bounded by the limit in seconds, with room for a loaded machine.
        EXPECT_LT(sinceRequest.elapsed(), c.timer * 1000 + 3000);
        // The picture waits in the outbox to be tried again.
        EXPECT_FALSE(QFile::exists(local));
        EXPECT_TRUE(waitsInOutbox(QStringLiteral("f1.pcx"), writePcx(exampleBitmap())));
    }
    // Each failure says why; no password, right or wrong, reaches the log.
    const QStringList log = server().logEntries();
    EXPECT_EQ(log.filter(QRegularExpression(QStringLiteral("^sig_ftp: transfer failed \\[.+\\]$")))
                  .size(),
              5);
    EXPECT_EQ(log.filter(QStringLiteral("pass=[********] ")).size(), 7);
    EXPECT_FALSE(logBytes().contains(password.toLatin1()));
    EXPECT_FALSE(logBytes().contains("pass=[wrong"));
    // The server ends cleanly (under the sanitizers: without a report).
    EXPECT_EQ(server().stop(), 0);
}

TEST_F(SignatureE2E, SftpTakesItsKeysFromTheProgramFolderAndPlainFtpIsWarnedOf)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "sshd needs root to take on its user";
    SshdProcess sshd;
    ASSERT_TRUE(sshd.start()) << qPrintable(sshd.why());
    // Plain FTP to another machine: start-up says once what crosses the network in clear.
    startServer({QStringLiteral("--simulate")},
                QStringLiteral("[FTP]\r\nftpUrl=192.0.2.7\r\nftpUsername=till\r\n"));
    const QStringList warnings = server().logEntries().filter(QStringLiteral("in clear"));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("ftpUrl=[ftp://192.0.2.7]")));
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("TLS=Y")));
    EXPECT_TRUE(warnings.first().contains(QStringLiteral("sftp://")));

    // The key and the known host named without a folder are the program folder's.
    ASSERT_TRUE(QFile::copy(sshd.userKey(), server().home() + QStringLiteral("/till.key")));
    ASSERT_TRUE(QFile::copy(sshd.knownHosts(), server().home() + QStringLiteral("/known_hosts")));
    setFtp(QStringLiteral("sftp://127.0.0.1:") + QString::number(sshd.port()), sshd.user(), {});
    const QString ini = server().home() + QStringLiteral("/varnelpayment.ini");
    TestFiles::writeAll(ini, TestFiles::readAll(ini) + "KeyFile=till.key\r\n");

    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    const QString path = sigFile(QStringLiteral("s1.pcx"));
    const QByteArray request =
        "TRANS=QP6100;ACTION=2;UNIQU=S1;DOFTP=Y;FTPPATH=" + QFile::encodeName(sshd.uploads()) +
        "/;TIMER=20;";
    EXPECT_EQ(signAndRequest(client, request, savedReply(path)), savedReply(path));
    EXPECT_EQ(TestFiles::readAll(sshd.uploads() + QStringLiteral("/s1.pcx")),
              writePcx(exampleBitmap()));
    EXPECT_FALSE(QFile::exists(path));
}

TEST_F(SignatureE2E, APictureWaitsInTheOutboxUntilTheServerIsBackAndArrivesWhole)
{
    const quint16 metricsPort = ServerProcess::freePort();
    startServer({QStringLiteral("--simulate")},
                QStringLiteral("[Metrics]\r\nPort=%1\r\n[FTP]\r\nRetryFirst=1s\r\nRetryMax=2s\r\n"
                               "QueuedReply=Y\r\nGiveUp=bad\r\n")
                    .arg(metricsPort));
    // A setting that is not a time is said once, and the default is used.
    EXPECT_EQ(server().logEntries().filter(QStringLiteral("GiveUp=[bad]")).size(), 1);
    setFtpToNobody();
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    const QString path = sigFile(QStringLiteral("w1.pcx"));
    // The till is told that the picture is taken and its upload queued.
    EXPECT_EQ(signAndUpload(client, "W1", queuedReply(path)), queuedReply(path));
    EXPECT_TRUE(waitsInOutbox(QStringLiteral("w1.pcx"), writePcx(exampleBitmap())));
    EXPECT_FALSE(QFile::exists(path));
    const QByteArray metrics = httpGet(metricsPort, "/metrics");
    EXPECT_TRUE(metrics.contains("\nvarnel_signature_outbox_items 1\n")) << metrics.constData();
    EXPECT_TRUE(metrics.contains("varnel_signature_upload_attempts_total{outcome=\"failed\"} "));
    // The pad did its part: a waiting picture is no failure of the pad's.
    const QByteArray health = httpGet(metricsPort, "/health");
    EXPECT_TRUE(health.startsWith("HTTP/1.1 200")) << health.constData();
    EXPECT_TRUE(health.contains("\"lastFailed\":false")) << health.constData();

    // The server comes back: the picture arrives within the retries' waits, byte for byte.
    FtpServerProcess ftp(kUser, kPassword);
    ASSERT_TRUE(ftp.start());
    setFtp(QStringLiteral("127.0.0.1:") + QString::number(ftp.port()), kUser, kPassword);
    const QString remote = ftp.root() + QStringLiteral("/w1.pcx");
    ASSERT_TRUE(eventually([&] { return QFile::exists(remote); }, 10000));
    EXPECT_EQ(TestFiles::readAll(remote), writePcx(exampleBitmap()));
    EXPECT_TRUE(eventually([&] { return filesIn(QStringLiteral("outbox")).isEmpty(); }, 2000));
    EXPECT_EQ(QDir(ftp.root()).entryList(QDir::Files), QStringList{QStringLiteral("w1.pcx")});
    EXPECT_EQ(server()
                  .logEntries()
                  .filter(QStringLiteral("sig_ftp: outbox: w1.pcx arrived as /w1.pcx"))
                  .size(),
              1);
    EXPECT_TRUE(httpGet(metricsPort, "/metrics").contains("\nvarnel_signature_outbox_items 0\n"));
}

TEST_F(SignatureE2E, PicturesWaitingOrUnderWayWhenTheServerIsKilledArriveOnceAfterARestart)
{
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    startServer({QStringLiteral("--simulate")});
    setFtpToNobody();
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    EXPECT_EQ(signAndUpload(client, "K1", kFailedReply), kFailedReply);
    EXPECT_EQ(signAndUpload(client, "K2", kFailedReply), kFailedReply);
    // The third is under way, on a server that never answers, when the box dies.
    setFtp(QStringLiteral("127.0.0.1:") + QString::number(silent.serverPort()), kUser, kPassword);
    auto signer = startTool({QStringLiteral("sign"), kExample});
    client.send("TRANS=QP6100;ACTION=2;UNIQU=K3;DOFTP=Y;FTPPATH=/;TIMER=30;");
    EXPECT_EQ(finish(*signer).exitCode, 0);
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("sig_ftp: inetCmd=[PUT ") +
                                         sigFile(QStringLiteral("k3.pcx")) +
                                         QStringLiteral(" /k3.pcx]")));
    server().process().kill();
    server().process().waitForFinished(5000);
    EXPECT_EQ(filesIn(QStringLiteral("outbox")).filter(QStringLiteral(".pcx.record")).size(), 3);

    FtpServerProcess ftp(kUser, kPassword);
    ASSERT_TRUE(ftp.start());
    ServerProcess restarted(
        QStringLiteral("[FTP]\r\nftpUrl=127.0.0.1:%1\r\nftpUsername=till\r\nftpPassword=s3cret\r\n"
                       "RetryFirst=2s\r\n")
            .arg(ftp.port()),
        {QStringLiteral("--simulate")});
    restarted.setHome(server().home());
    ASSERT_TRUE(restarted.start());
    const QStringList expected{QStringLiteral("k1.pcx"), QStringLiteral("k2.pcx"),
                               QStringLiteral("k3.pcx")};
    ASSERT_TRUE(
        eventually([&] { return QDir(ftp.root()).entryList(QDir::Files) == expected; }, 15000))
        << qPrintable(QDir(ftp.root()).entryList(QDir::Files).join(QLatin1Char(' ')));
    for (const QString& name : expected)
        EXPECT_EQ(TestFiles::readAll(ftp.root() + QLatin1Char('/') + name),
                  writePcx(exampleBitmap()));
    EXPECT_TRUE(eventually([&] { return filesIn(QStringLiteral("outbox")).isEmpty(); }, 2000));
    // Each arrived once.
    EXPECT_EQ(restarted.logEntries()
                  .filter(QStringLiteral("sig_ftp: outbox: "))
                  .filter(QStringLiteral(" arrived as "))
                  .size(),
              3);
    EXPECT_EQ(restarted.stop(), 0);
}

TEST_F(SignatureE2E, AGivenUpPictureGoesToFailedAndRetryFailedSendsItAgain)
{
    const quint16 metricsPort = ServerProcess::freePort();
    startServer({QStringLiteral("--simulate")},
                QStringLiteral("[Metrics]\r\nPort=%1\r\n[FTP]\r\nRetryFirst=1s\r\nGiveUp=2s\r\n")
                    .arg(metricsPort));
    setFtpToNobody();
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    EXPECT_EQ(signAndUpload(client, "G1", kFailedReply), kFailedReply);
    // The give-up's line comes once its files are in place.
    const auto givenUpLines = [&] {
        return server().logEntries().filter(QStringLiteral("sig_ftp: outbox: gave up on g1.pcx"));
    };
    ASSERT_TRUE(eventually([&] { return !givenUpLines().isEmpty(); }, 10000));
    EXPECT_EQ(givenUpLines().size(), 1);
    EXPECT_EQ(filesIn(QStringLiteral("failed")).size(), 2);
    EXPECT_TRUE(filesIn(QStringLiteral("outbox")).isEmpty());
    // A picture given up in the last day is worth a warning, never a failure of the box.
    const QByteArray health = httpGet(metricsPort, "/health");
    EXPECT_TRUE(health.startsWith("HTTP/1.1 200")) << health.constData();
    EXPECT_TRUE(health.contains("},\"status\":\"warn\",\"version\"")) << health.constData();
    EXPECT_TRUE(health.contains("\"givenUpLastDay\":1")) << health.constData();
    EXPECT_TRUE(
        httpGet(metricsPort, "/metrics").contains("\nvarnel_signatures_given_up_total 1\n"));

    // The operator sees it, and sends it again once the server is back.
    const ToolRun listed =
        runProgram(QStringLiteral("varnelpayment"),
                   {QStringLiteral("--home"), server().home(), QStringLiteral("--outbox")});
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_TRUE(listed.out.startsWith(QStringLiteral("given up: g1.pcx remote=[/g1.pcx] ")))
        << qPrintable(listed.out);
    FtpServerProcess ftp(kUser, kPassword);
    ASSERT_TRUE(ftp.start());
    setFtp(QStringLiteral("127.0.0.1:") + QString::number(ftp.port()), kUser, kPassword);
    const ToolRun retried =
        runProgram(QStringLiteral("varnelpayment"),
                   {QStringLiteral("--home"), server().home(), QStringLiteral("--retry-failed")});
    EXPECT_EQ(retried.exitCode, 0);
    EXPECT_TRUE(retried.out.startsWith(QStringLiteral("1 given-up picture(s) put back")));
    ASSERT_TRUE(
        eventually([&] { return QFile::exists(ftp.root() + QStringLiteral("/g1.pcx")); }, 10000));
    EXPECT_TRUE(filesIn(QStringLiteral("failed")).isEmpty());
    // The outbox lets the picture go once the server has confirmed it.
    ASSERT_TRUE(eventually([&] { return filesIn(QStringLiteral("outbox")).isEmpty(); }, 5000));
    EXPECT_EQ(runProgram(QStringLiteral("varnelpayment"),
                         {QStringLiteral("--home"), server().home(), QStringLiteral("--outbox")})
                  .out,
              QStringLiteral("No signature picture waits for its upload.\n"));
}

TEST_F(SignatureE2E, AFullOutboxLeavesThePictureWhereItWasAndSaysSo)
{
    startServer({QStringLiteral("--simulate")},
                QStringLiteral("[FTP]\r\nftpUrl=127.0.0.1:%1\r\nftpUsername=till\r\n"
                               "ftpPassword=pw\r\nOutboxMegabytes=1\r\nQueuedReply=Y\r\n"
                               "RetryFirst=1h\r\n")
                    .arg(ServerProcess::freePort()));
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    // Pictures are small: a megabyte holds many, so the first one waits.
    const QString first = sigFile(QStringLiteral("o1.pcx"));
    EXPECT_EQ(signAndUpload(client, "O1", queuedReply(first)), queuedReply(first));
    client.close();

    // A big picture left waiting by an earlier run fills the outbox.
    ASSERT_EQ(server().stop(), 0);
    const QString outbox = server().home() + QStringLiteral("/signatures/outbox/");
    TestFiles::writeAll(outbox + QStringLiteral("9-big-o0.pcx"), QByteArray(1024 * 1024, 'x'));
    const QByteArray now = QByteArray::number(QDateTime::currentSecsSinceEpoch());
    TestFiles::writeAll(outbox + QStringLiteral("9-big-o0.pcx.record"),
                        "remote=/o0.pcx\ntaken=o0.pcx\nattempts=1\nfirst=" + now + "\nnext=" + now +
                            "\ngaveup=0\nfailure=\n");
    ASSERT_TRUE(server().start());
    ASSERT_TRUE(client.connectTo(server().port()));
    // Then a new picture does not fit: it stays where it was taken, and the till is told.
    const QString second = sigFile(QStringLiteral("o2.pcx"));
    EXPECT_EQ(signAndUpload(client, "O2", kFailedReply), kFailedReply);
    EXPECT_EQ(TestFiles::readAll(second), writePcx(exampleBitmap()));
    EXPECT_EQ(server()
                  .logEntries()
                  .filter(QStringLiteral("sig_ftp: outbox: full (OutboxMegabytes=[1]): ") + second)
                  .size(),
              1);
    EXPECT_EQ(filesIn(QStringLiteral("outbox")).size(), 4);
}

TEST_F(SignatureE2E, ClosingAbandonsAnUploadUnderWayAtOnceAndKeepsTheFile)
{
    // A server that accepts connections and never says a word: the upload would wait its
    // whole TIMER of 40 seconds.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    startServer({QStringLiteral("--simulate")});
    setFtp(QStringLiteral("127.0.0.1:") + QString::number(silent.serverPort()),
           QStringLiteral("till"), QStringLiteral("pw"));
    TestClient client;
    ASSERT_TRUE(client.connectTo(server().port()));
    auto signer = startTool({QStringLiteral("sign"), kExample});
    client.send("TRANS=QP6100;ACTION=2;UNIQU=c1;DOFTP=Y;FTPPATH=/;TIMER=40;");
    EXPECT_EQ(finish(*signer).exitCode, 0);
    const QString local = sigFile(QStringLiteral("c1.pcx"));
    ASSERT_TRUE(server().waitForLogEntry(QStringLiteral("sig_ftp: inetCmd=[PUT ") + local +
                                         QStringLiteral(" /c1.pcx]")));

    QElapsedTimer closing;
    closing.start();
    EXPECT_EQ(server().stop(), 0);
    EXPECT_LT(closing.elapsed(), 2000);
    // The till is told that it failed; the picture waits in the outbox for a later upload.
    EXPECT_EQ(client.receive(1000, kFailedReply.size()), kFailedReply);
    EXPECT_TRUE(waitsInOutbox(QStringLiteral("c1.pcx"), writePcx(exampleBitmap())));
    const QStringList log = server().logEntries();
    EXPECT_TRUE(log.contains(QStringLiteral("sig_ftp: the program is closing: transfer "
                                            "abandoned, ") +
                             local + QStringLiteral(" kept")));
    EXPECT_EQ(log.last(), QStringLiteral("Application Closed"));
}

} // namespace
