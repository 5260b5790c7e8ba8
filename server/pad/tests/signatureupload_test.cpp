#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "core/padtimeout.h"
#include "fakeftpclient.h"
#include "fakescheduler.h"
#include "ftpserverprocess.h"
#include "pad/curlftpclient.h"
#include "pad/signatureupload.h"
#include "padtestsupport.h"
#include "scriptedftpserver.h"
#include "settings/ftpsettings.h"

namespace {

using Server = SignatureUpload::Server;

TEST(SignatureUploadRules, SchemeServerRemoteNameAndCommand)
{
    const struct
    {
        QString setting;
        QString url;
    } schemes[] = {
        {QStringLiteral("host"), QStringLiteral("ftp://host")},
        {QStringLiteral("host:2121"), QStringLiteral("ftp://host:2121")},
        {QStringLiteral("ftp://host"), QStringLiteral("ftp://host")},
        // The scheme in any letter case is the scheme; only its absence gets the prefix.
        {QStringLiteral("FTP://host"), QStringLiteral("FTP://host")},
        {QStringLiteral("Ftp://host:2121/in/"), QStringLiteral("Ftp://host:2121/in/")},
        {QStringLiteral("files.example/ftp"), QStringLiteral("ftp://files.example/ftp")},
        {QStringLiteral("sftp://host"), QStringLiteral("sftp://host")},
        {QStringLiteral("FTPS://host:990"), QStringLiteral("FTPS://host:990")},
        {QString(), QStringLiteral("ftp://")},
    };
    for (const auto& c : schemes)
        EXPECT_EQ(SignatureUpload::withScheme(c.setting), c.url) << qPrintable(c.setting);

    const struct
    {
        QString url;
        std::optional<Server> server;
    } servers[] = {
        {QStringLiteral("ftp://files.example"), Server{QStringLiteral("files.example"), 21}},
        {QStringLiteral("FTP://files.example:2121"), Server{QStringLiteral("files.example"), 2121}},
        {QStringLiteral("ftp://127.0.0.1:2121"), Server{QStringLiteral("127.0.0.1"), 2121}},
        {QStringLiteral("ftp://h:2121/base/"), Server{QStringLiteral("h"), 2121}},
        {QStringLiteral("ftp://someone@h"), Server{QStringLiteral("h"), 21}},
        {QStringLiteral("ftp://[::1]:990"), Server{QStringLiteral("::1"), 990}},
        {QStringLiteral("ftp://h:abc"), std::nullopt},
        {QStringLiteral("ftp://h:70000"), std::nullopt},
        {QStringLiteral("ftp://h:0"), std::nullopt},
        {QStringLiteral("sftp://h"), Server{QStringLiteral("h"), 22, FtpProtocol::Sftp}},
        {QStringLiteral("sftp://h:2222/in/"), Server{QStringLiteral("h"), 2222, FtpProtocol::Sftp}},
        {QStringLiteral("ftps://h"), Server{QStringLiteral("h"), 990, FtpProtocol::Ftps}},
        {QStringLiteral("FTPS://h:2990"), Server{QStringLiteral("h"), 2990, FtpProtocol::Ftps}},
        {QStringLiteral("http://h"), std::nullopt},
        {QStringLiteral("ftp://"), std::nullopt},
    };
    for (const auto& c : servers)
        EXPECT_EQ(SignatureUpload::serverOf(c.url), c.server) << qPrintable(c.url);

    const struct
    {
        QString sigFile;
        QString ftpPath;
        QString command;
    } commands[] = {
        {QStringLiteral("/opt/v/signatures/a1b2.pcx"), QStringLiteral("/incoming/"),
         QStringLiteral("PUT /opt/v/signatures/a1b2.pcx /incoming/a1b2.pcx")},
        {QStringLiteral("/opt/v/signatures/AB12.PCX"), QStringLiteral("/vm/tavok/dsk37/170170/"),
         QStringLiteral("PUT /opt/v/signatures/AB12.PCX /vm/tavok/dsk37/170170/ab12.pcx")},
        // Nothing is quoted; the path is put in front unchanged, separator or not.
        {QStringLiteral("/my files/sig/a b.pcx"), QStringLiteral("/in box/"),
         QStringLiteral("PUT /my files/sig/a b.pcx /in box/a b.pcx")},
        {QStringLiteral("/s/x%20#?.pcx"), QStringLiteral("up"),
         QStringLiteral("PUT /s/x%20#?.pcx upx%20#?.pcx")},
        {QString(), QStringLiteral("/vm/"), QStringLiteral("PUT  /vm/")},
    };
    for (const auto& c : commands) {
        EXPECT_EQ(SignatureUpload::inetCmd(c.sigFile, c.ftpPath), c.command);
        EXPECT_EQ(QStringLiteral("PUT ") + c.sigFile + QLatin1Char(' ') +
                      SignatureUpload::remoteName(c.sigFile, c.ftpPath),
                  c.command);
    }
}

TEST(CurlFtpClient, TheRemoteNameReachesTheServerAsTheTextItIs)
{
    auto url = [](const QString& host, quint16 port, const QString& remote) {
        return CurlFtpClient::curlUrl(FtpUpload{host, port, {}, {}, 60, {}, remote});
    };
    // Every byte but the unreserved ones is escaped, "/" too: libcurl decodes the whole path
    // into one name, so nothing in it can become a query, a fragment, a type or a folder change.
    EXPECT_EQ(url(QStringLiteral("127.0.0.1"), 2121, QStringLiteral("/in box/a%b#?;type=a.pcx")),
              QByteArray("ftp://127.0.0.1:2121/%2Fin%20box%2Fa%25b%23%3F%3Btype%3Da.pcx"));
    EXPECT_EQ(url(QStringLiteral("::1"), 21, QStringLiteral("rel/x.pcx")),
              QByteArray("ftp://[::1]:21/rel%2Fx.pcx"));
    // Request text is single-byte: each character goes as its one byte.
    EXPECT_EQ(url(QStringLiteral("h"), 21, QStringLiteral("/caf\u00e9.pcx")),
              QByteArray("ftp://h:21/%2Fcaf%E9.pcx"));
}

class SigFtpTest : public ::testing::Test
{
protected:
    SigFtpTest() { TestFiles::writeAll(sigFile, "PCX picture"); }

    void setFtp(const QString& url, const QString& user, const QString& password)
    {
        TestFiles::writeAll(settingsPath, (QStringLiteral("[Local]\r\nlocalSockport=1\r\n[FTP]\r\n"
                                                          "ftpUrl=%1\r\nftpUsername=%2\r\n"
                                                          "ftpPassword=%3\r\n")
                                               .arg(url, user, password))
                                              .toLatin1());
    }

    // Runs one upload through `client` to its end; nothing when it never ended.
    // `meanwhile` runs half way through the transfer; the client leaves then when `leaves`.
    std::optional<SignatureUpload::End> upload(FtpClient& client, ActivityLog& uploadLog,
                                               const QString& ftpPath, bool leaves = false,
                                               std::function<void()> meanwhile = {})
    {
        std::optional<SignatureUpload::End> end;
        // The settings as the settings file holds them at this upload.
        SignatureUpload run(FtpSource{client, [this] { return readFtpSettings(settingsPath); }},
                            uploadLog, padTimeout, sigFile, ftpPath);
        std::unique_ptr<ScheduledCall> during;
        if (meanwhile || leaves)
            during = scheduler.callAfter(ftp.transferMs / 2, [&] {
                if (meanwhile)
                    meanwhile();
                if (leaves)
                    run.clientGone();
            });
        run.start([&end](SignatureUpload::End how) { end = how; });
        scheduler.runUntilIdle();
        return end;
    }

    QTemporaryDir home;
    QString settingsPath = QDir(home.path()).filePath(QStringLiteral("varnelpayment.ini"));
    QString sigFile = QDir(home.path()).filePath(QStringLiteral("AB12.pcx"));
    TestLog log;
    FakeScheduler scheduler;
    FakeFtpClient ftp{scheduler};
    PadTimeout padTimeout;
};

using End = SignatureUpload::End;

TEST_F(SigFtpTest, AConfirmedTransferRemovesTheLocalFile)
{
    const QString password = QStringLiteral("p@ss:w rd");
    setFtp(QStringLiteral("127.0.0.1:2121"), QStringLiteral("us:er@x"), password);
    ftp.transferMs = 1700;
    bool fileThereMeanwhile = false;
    EXPECT_EQ(upload(ftp, log.log(), QStringLiteral("/in box/"), {},
                     [&] { fileThereMeanwhile = QFile::exists(sigFile); }),
              End::Uploaded);
    EXPECT_FALSE(QFile::exists(sigFile));
    // The upload advanced on the loop, ending when the transfer did, not at a step.
    EXPECT_TRUE(fileThereMeanwhile);
    EXPECT_EQ(scheduler.elapsedMs(), 1700);
    ASSERT_EQ(ftp.uploads.size(), 1u);
    const FtpUpload& sent = ftp.uploads.front();
    EXPECT_EQ(sent.host, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(sent.port, 2121);
    EXPECT_EQ(sent.user, QStringLiteral("us:er@x"));
    EXPECT_EQ(sent.password, password);
    EXPECT_EQ(sent.localFile, sigFile);
    EXPECT_EQ(sent.remoteName, QStringLiteral("/in box/ab12.pcx"));
    // The limit of 0 reads as 60, and stays.
    EXPECT_EQ(sent.timeoutSeconds, 60);
    EXPECT_EQ(padTimeout.seconds(), 60);
    EXPECT_EQ(log.entries(),
              (QStringList{QStringLiteral("sig_ftp: url=[ftp://127.0.0.1:2121] user=[us:er@x] "
                                          "pass=[********] "),
                           QStringLiteral("sig_ftp: inetCmd=[PUT ") + sigFile +
                               QStringLiteral(" /in box/ab12.pcx]")}));
}

TEST_F(SigFtpTest, EveryOtherEndKeepsTheLocalFileAndNeverLogsThePassword)
{
    const QString password = QStringLiteral("Zq7-unusual");
    const QString url = QStringLiteral("ftp://files.example");
    const struct
    {
        const char* what;
        QString url;
        QString user;
        QString password;
        int throwCode;
        bool succeeds;
        int uploads;
        QStringList log;
    } cases[] = {
        {"no password",
         url,
         QStringLiteral("till"),
         QString(),
         0,
         true,
         0,
         {QStringLiteral("sig_ftp: url=[ftp://files.example] user=[till] pass=[] "),
          QStringLiteral("sig_ftp: parameters not set")}},
        {"no user",
         url,
         QString(),
         password,
         0,
         true,
         0,
         {QStringLiteral("sig_ftp: url=[ftp://files.example] user=[] pass=[********] "),
          QStringLiteral("sig_ftp: parameters not set")}},
        {"no url",
         QString(),
         QStringLiteral("till"),
         password,
         0,
         true,
         0,
         {QStringLiteral("sig_ftp: url=[ftp://] user=[till] pass=[********] "),
          QStringLiteral("sig_ftp: parameters not set")}},
        {"not an ftp url",
         QStringLiteral("files.example:port"),
         QStringLiteral("till"),
         password,
         0,
         true,
         0,
         {QStringLiteral("sig_ftp: url=[ftp://files.example:port] user=[till] pass=[********] "),
          QStringLiteral("sig_ftp: Error( 5)")}},
        {"refused store",
         url,
         QStringLiteral("till"),
         password,
         0,
         false,
         1,
         {QStringLiteral("sig_ftp: url=[ftp://files.example] user=[till] pass=[********] "),
          QStringLiteral("sig_ftp: inetCmd=[PUT ") + sigFile + QStringLiteral(" /vm/ab12.pcx]"),
          QStringLiteral("sig_ftp: transfer failed [550 No such file or directory]")}},
        {"unreadable local file",
         url,
         QStringLiteral("till"),
         password,
         53,
         true,
         1,
         {QStringLiteral("sig_ftp: url=[ftp://files.example] user=[till] pass=[********] "),
          QStringLiteral("sig_ftp: inetCmd=[PUT ") + sigFile + QStringLiteral(" /vm/ab12.pcx]"),
          QStringLiteral("sig_ftp: Error( 53)")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestLog caseLog;
        FakeFtpClient client(scheduler);
        client.throwCode = c.throwCode;
        client.succeeds = c.succeeds;
        // The settings are read at every upload.
        setFtp(c.url, c.user, c.password);
        EXPECT_EQ(upload(client, caseLog.log(), QStringLiteral("/vm/")), End::Failed);
        EXPECT_EQ(int(client.uploads.size()), c.uploads);
        EXPECT_EQ(caseLog.entries(), c.log);
        EXPECT_FALSE(caseLog.text().contains(password));
        EXPECT_EQ(TestFiles::readAll(sigFile), QByteArray("PCX picture"));
    }

    // A confirmed transfer whose file is read-only: the file stays and the upload failed.
    setFtp(url, QStringLiteral("till"), password);
    QFile::setPermissions(sigFile, QFileDevice::ReadOwner);
    EXPECT_EQ(upload(ftp, log.log(), QStringLiteral("/vm/")), End::Failed);
    EXPECT_EQ(log.entries().last(), QStringLiteral("sig_ftp: Error( 70)"));
    EXPECT_TRUE(QFile::exists(sigFile));
}

TEST_F(SigFtpTest, OnlyTheFileSentIsRemovedAndAClientThatWentAwayAbandonsTheTransfer)
{
    setFtp(QStringLiteral("127.0.0.1:2121"), QStringLiteral("till"), QStringLiteral("pw"));
    const QString sent =
        QStringLiteral("sig_ftp: inetCmd=[PUT ") + sigFile + QStringLiteral(" /in/ab12.pcx]");
    const QString kept =
        QStringLiteral("sig_ftp: ") + sigFile +
        QStringLiteral(" was written again during the upload; the new file is kept");
    const struct
    {
        const char* what;
        // Runs while the transfer executes.
        std::function<void()> meanwhile;
        End result;
        QByteArray fileAfter; // empty: removed
        QString lastLine;
    } cases[] = {
        {"the file sent", [] {}, End::Uploaded, {}, sent},
        {"a newer signature written at the same path",
         [this] {
             QFile::remove(sigFile);
             TestFiles::writeAll(sigFile, "newer picture");
         },
         End::Uploaded, "newer picture", kept},
        {"the same file rewritten in place",
         [this] { TestFiles::writeAll(sigFile, "PCX picture, longer"); }, End::Uploaded,
         "PCX picture, longer", kept},
        {"the client gone", [] {}, End::Abandoned, "PCX picture",
         QStringLiteral("sig_ftp: client gone: transfer abandoned, ") + sigFile +
             QStringLiteral(" kept")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestFiles::writeAll(sigFile, "PCX picture");
        TestLog caseLog;
        FakeFtpClient client(scheduler);
        client.transferMs = ftp.transferMs;
        const bool abandons = c.result == End::Abandoned;
        const qint64 started = scheduler.elapsedMs();
        EXPECT_EQ(upload(client, caseLog.log(), QStringLiteral("/in/"), abandons, c.meanwhile),
                  c.result);
        // A client that leaves ends the transfer at once, before its end.
        EXPECT_EQ(scheduler.elapsedMs() - started,
                  abandons ? ftp.transferMs / 2 : client.transferMs);
        EXPECT_EQ(QFile::exists(sigFile), !c.fileAfter.isEmpty());
        if (!c.fileAfter.isEmpty())
            EXPECT_EQ(TestFiles::readAll(sigFile), c.fileAfter);
        EXPECT_EQ(client.abandoned, abandons ? 1 : 0);
        EXPECT_EQ(caseLog.entries().last(), c.lastLine);
    }
}

// Runs the event loop until `done` holds or `limitMs` pass, watching that no event handler
// holds the loop: a timer ticks every 10 ms and the longest gap between its ticks is kept.
class LoopWatch
{
public:
    LoopWatch()
    {
        m_tick.setInterval(10);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_longestGapMs = std::max(m_longestGapMs, m_sinceTick.restart());
        });
        m_tick.start();
        m_sinceTick.start();
    }
    bool runUntil(const std::function<bool()>& done, int limitMs)
    {
        QElapsedTimer elapsed;
        elapsed.start();
        while (!done() && elapsed.elapsed() < limitMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        return done();
    }
    qint64 longestGapMs() const { return m_longestGapMs; }

private:
    QTimer m_tick;
    QElapsedTimer m_sinceTick;
    qint64 m_longestGapMs = 0;
};

class CurlTransferTest : public ::testing::Test
{
protected:
    CurlTransferTest() { TestFiles::writeAll(localFile, "PCX picture"); }

    FtpUpload uploadTo(quint16 port, int timeoutSeconds = 30) const
    {
        return FtpUpload{QStringLiteral("127.0.0.1"),       port,           QStringLiteral("till"),
                         QStringLiteral("s3cret"),          timeoutSeconds, localFile,
                         QStringLiteral("/in box/ab12.pcx")};
    }

    QTemporaryDir home;
    QString localFile = QDir(home.path()).filePath(QStringLiteral("AB12.pcx"));
    LoopWatch loop;
    CurlFtpClient client;
    std::unique_ptr<FtpTransfer> transfer;
    std::optional<FtpOutcome> outcome;
    int ends = 0;
    // Records the end; the owner drops the transfer inside, as the upload does.
    FtpClient::Ended ended = [this](const FtpOutcome& end) {
        ++ends;
        outcome = end;
        transfer.reset();
    };
};

TEST_F(CurlTransferTest, TheFileIsStoredBesideItsNameAndRenamedOnceConfirmed)
{
    ScriptedFtpServer server(ScriptedFtpServer::Mode::Confirms);
    transfer = client.execute(uploadTo(server.port()), ended);
    // The end is announced from the event loop, never inside execute().
    EXPECT_EQ(ends, 0);

    QElapsedTimer elapsed;
    elapsed.start();
    ASSERT_TRUE(loop.runUntil([this] { return ends > 0; }, 10000))
        << qPrintable(server.commands().join(QLatin1Char('|')));
    EXPECT_TRUE(outcome->succeeded) << qPrintable(outcome->failure);
    EXPECT_EQ(server.stored(), QByteArray("PCX picture"));
    const QStringList commands = server.commands();
    const qsizetype store = commands.indexOf(QStringLiteral("STOR /in box/ab12.pcx.part"));
    ASSERT_GE(store, 0) << qPrintable(commands.join(QLatin1Char('|')));
    EXPECT_EQ(commands.mid(store + 1, 2), QStringList({QStringLiteral("RNFR /in box/ab12.pcx.part"),
                                                       QStringLiteral("RNTO /in box/ab12.pcx")}));
    // The goodbye went out and the session closed though the server never answered it.
    ASSERT_TRUE(loop.runUntil([&] { return server.sessionClosed(); }, 2000));
    EXPECT_EQ(server.commands().last(), QStringLiteral("QUIT"));
    EXPECT_LT(elapsed.elapsed(), 2000);
    EXPECT_LT(loop.longestGapMs(), 300);
    EXPECT_EQ(ends, 1);
}

TEST_F(CurlTransferTest, HoweverTheServerAnswersTheUploadEndsByItsLimitAndTheLoopRunsOn)
{
    using Mode = ScriptedFtpServer::Mode;
    const struct
    {
        const char* what;
        Mode mode;
        int limitSeconds;
        bool succeeds;
        // The least time it must take: a late confirmation is waited for.
        qint64 atLeastMs;
    } cases[] = {
        {"no greeting", Mode::Silent, 1, false, 900},
        {"no confirmation of the store", Mode::NeverConfirms, 2, false, 1900},
        {"a confirmation dripped a byte at a time", Mode::DripsConfirmation, 3, false, 2900},
        {"a confirmation two seconds late", Mode::ConfirmsLate, 10, true, 1900},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedFtpServer server(c.mode);
        outcome.reset();
        LoopWatch watch;
        QElapsedTimer elapsed;
        elapsed.start();
        transfer = client.execute(uploadTo(server.port(), c.limitSeconds), ended);
        ASSERT_TRUE(watch.runUntil([this] { return outcome.has_value(); }, 20000));
        EXPECT_EQ(outcome->succeeded, c.succeeds) << qPrintable(outcome->failure);
        if (!c.succeeds) {
            EXPECT_TRUE(outcome->failure.contains(QStringLiteral("time"), Qt::CaseInsensitive))
                << qPrintable(outcome->failure);
            EXPECT_FALSE(outcome->failure.contains(QStringLiteral("s3cret")));
        }
        EXPECT_GE(elapsed.elapsed(), c.atLeastMs);
        EXPECT_LT(elapsed.elapsed(), c.limitSeconds * 1000 + 2000);
        EXPECT_LT(watch.longestGapMs(), 300);
    }
}

TEST_F(CurlTransferTest, AbandoningDropsTheConnectionAtOnceAndAnnouncesNothing)
{
    ScriptedFtpServer server(ScriptedFtpServer::Mode::Silent);
    transfer = client.execute(uploadTo(server.port()), ended);
    ASSERT_TRUE(loop.runUntil([&] { return server.connected(); }, 5000));
    QElapsedTimer elapsed;
    elapsed.start();
    transfer.reset();
    ASSERT_TRUE(loop.runUntil([&] { return server.sessionClosed(); }, 2000));
    EXPECT_LT(elapsed.elapsed(), 500);
    loop.runUntil([] { return false; }, 200);
    EXPECT_EQ(ends, 0);

    // A client that goes first drops what it still runs; the transfer goes afterwards quietly.
    ScriptedFtpServer second(ScriptedFtpServer::Mode::Silent);
    auto early = std::make_unique<CurlFtpClient>();
    transfer = early->execute(uploadTo(second.port()), ended);
    ASSERT_TRUE(loop.runUntil([&] { return second.connected(); }, 5000));
    early.reset();
    ASSERT_TRUE(loop.runUntil([&] { return second.sessionClosed(); }, 2000));
    transfer.reset();
    EXPECT_EQ(ends, 0);
}

TEST_F(CurlTransferTest, ARealServerStoresTheFileAndOneKilledMidTransferFailsIt)
{
    FtpServerProcess server(QStringLiteral("till"), QStringLiteral("s3cret"));
    ASSERT_TRUE(server.start());
    FtpUpload upload = uploadTo(server.port());
    upload.remoteName = QStringLiteral("/ab12.pcx");
    transfer = client.execute(upload, ended);
    ASSERT_TRUE(loop.runUntil([this] { return ends > 0; }, 10000));
    EXPECT_TRUE(outcome->succeeded) << qPrintable(outcome->failure);
    EXPECT_EQ(TestFiles::readAll(QDir(server.root()).filePath(QStringLiteral("ab12.pcx"))),
              QByteArray("PCX picture"));
    EXPECT_FALSE(QFileInfo::exists(QDir(server.root()).filePath(QStringLiteral("ab12.pcx.part"))));

    // A picture large enough to be under way when the server dies.
    TestFiles::writeAll(localFile, QByteArray(96 * 1024 * 1024, 'p'));
    upload.remoteName = QStringLiteral("/big.pcx");
    const QString remote = QDir(server.root()).filePath(QStringLiteral("big.pcx"));
    const QString partial = remote + QStringLiteral(".part");
    outcome.reset();
    transfer = client.execute(upload, ended);
    ASSERT_TRUE(loop.runUntil([&] { return QFileInfo(partial).size() > 0 || ends > 1; }, 10000));
    // Under way, the picture is only under its partial name.
    EXPECT_FALSE(QFileInfo::exists(remote));
    server.kill();
    ASSERT_TRUE(loop.runUntil([this] { return ends > 1; }, 10000));
    EXPECT_FALSE(outcome->succeeded);
    EXPECT_FALSE(outcome->failure.isEmpty());
    EXPECT_LT(QFileInfo(partial).size(), 96 * 1024 * 1024);
    EXPECT_FALSE(QFileInfo::exists(remote));
}

} // namespace
