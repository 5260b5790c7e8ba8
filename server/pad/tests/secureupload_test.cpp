#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <optional>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ftpserverprocess.h"
#include "pad/curlftpclient.h"
#include "sshdprocess.h"
#include "testfiles.h"
#include "vsftpdprocess.h"

namespace {

// Uploads against real servers from Debian on loopback: vsftpd for FTPS, sshd for SFTP.
class SecureUploadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "vsftpd and sshd need root to take on their users";
    }

    // Uploads `content` and returns how it ended, driving the event loop meanwhile.
    FtpOutcome upload(FtpUpload upload, const QByteArray& content)
    {
        TestFiles::writeAll(localFile, content);
        upload.localFile = localFile;
        upload.timeoutSeconds = 20;
        std::optional<FtpOutcome> outcome;
        auto transfer =
            client.execute(upload, [&outcome](const FtpOutcome& end) { outcome = end; });
        QElapsedTimer elapsed;
        elapsed.start();
        while (!outcome && elapsed.elapsed() < 30000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return outcome.value_or(FtpOutcome{false, QStringLiteral("no end within 30 s")});
    }

    QTemporaryDir home;
    QString localFile = QDir(home.path()).filePath(QStringLiteral("ab12.pcx"));
    CurlFtpClient client;
};

TEST_F(SecureUploadTest, FtpsArrivesOnlyFromACertifiedServerThatTakesTls)
{
    VsftpdProcess explicitTls(false);
    VsftpdProcess implicitTls(true);
    ASSERT_TRUE(explicitTls.start()) << qPrintable(explicitTls.why());
    ASSERT_TRUE(implicitTls.start()) << qPrintable(implicitTls.why());
    // A server without TLS: the password is never sent to it in clear.
    FtpServerProcess plain(QStringLiteral("anonymous"), QStringLiteral("x"));
    ASSERT_TRUE(plain.start());

    const auto withTls = [](quint16 port, FtpProtocol protocol, bool explicitly, QString ca) {
        FtpSecurity security;
        security.explicitTls = explicitly;
        security.caFile = std::move(ca);
        return FtpUpload{QStringLiteral("127.0.0.1"),
                         port,
                         QStringLiteral("anonymous"),
                         QStringLiteral("x"),
                         20,
                         {},
                         QStringLiteral("/in/ab12.pcx"),
                         protocol,
                         security};
    };
    const struct
    {
        const char* what;
        FtpUpload upload;
        const VsftpdProcess* server;
        // Empty when the upload must arrive; else what its failure must say.
        QString cause;
    } cases[] = {
        {"explicit TLS with the shop's CA file",
         withTls(explicitTls.port(), FtpProtocol::Ftp, true, explicitTls.certificate()),
         &explicitTls,
         {}},
        {"implicit TLS with the shop's CA file",
         withTls(implicitTls.port(), FtpProtocol::Ftps, false, implicitTls.certificate()),
         &implicitTls,
         {}},
        {"a certificate the system's CAs do not vouch for",
         withTls(explicitTls.port(), FtpProtocol::Ftp, true, {}), &explicitTls,
         QStringLiteral("the server's certificate is not trusted")},
        {"a server that takes no TLS", withTls(plain.port(), FtpProtocol::Ftp, true, {}), nullptr,
         QStringLiteral("the server refused TLS")},
    };
    int sent = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray picture = "PCX picture " + QByteArray::number(++sent);
        const FtpOutcome outcome = upload(c.upload, picture);
        if (!c.cause.isEmpty()) {
            EXPECT_FALSE(outcome.succeeded);
            EXPECT_TRUE(outcome.failure.startsWith(c.cause)) << qPrintable(outcome.failure);
            continue;
        }
        EXPECT_TRUE(outcome.succeeded) << qPrintable(outcome.failure);
        const QDir uploads(c.server->uploads());
        EXPECT_EQ(TestFiles::readAll(uploads.filePath(QStringLiteral("ab12.pcx"))), picture);
        EXPECT_EQ(uploads.entryList(QDir::Files), QStringList{QStringLiteral("ab12.pcx")});
    }
    // Stored under the partial name, then renamed into place.
    const QString log = explicitTls.protocolLog();
    EXPECT_TRUE(log.contains(QStringLiteral("AUTH TLS"))) << qPrintable(log);
    EXPECT_TRUE(log.contains(QStringLiteral("STOR /in/ab12.pcx.part"))) << qPrintable(log);
    EXPECT_TRUE(log.contains(QStringLiteral("RNTO /in/ab12.pcx"))) << qPrintable(log);
}

TEST_F(SecureUploadTest, SftpArrivesOnlyFromAServerWhoseHostKeyIsKnown)
{
    SshdProcess sshd;
    ASSERT_TRUE(sshd.start()) << qPrintable(sshd.why());
    const QString remote = QDir(sshd.uploads()).filePath(QStringLiteral("ab12.pcx"));
    const auto sftp = [&](QString password, QString keyFile, QString knownHosts) {
        FtpSecurity security;
        security.keyFile = std::move(keyFile);
        security.knownHosts = std::move(knownHosts);
        return FtpUpload{
            QStringLiteral("127.0.0.1"), sshd.port(), sshd.user(), password, 20, {}, remote,
            FtpProtocol::Sftp,           security};
    };
    const struct
    {
        const char* what;
        FtpUpload upload;
        QString cause;
    } cases[] = {
        {"a password", sftp(sshd.password(), {}, sshd.knownHosts()), {}},
        // Sent again: the picture before it is replaced, never kept beside it.
        {"a key file", sftp({}, sshd.userKey(), sshd.knownHosts()), {}},
        {"a host key not in the file",
         sftp(sshd.password(), {}, QDir(home.path()).filePath(QStringLiteral("none"))),
         QStringLiteral("the server's host key is unknown")},
        {"a host key other than the file's", sftp(sshd.password(), {}, sshd.wrongKnownHosts()),
         QStringLiteral("the server's host key has changed")},
        {"a wrong password", sftp(QStringLiteral("wrong"), {}, sshd.knownHosts()),
         QStringLiteral("the server refused the login")},
    };
    int sent = 0;
    QByteArray arrived;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QByteArray picture = "PCX picture " + QByteArray::number(++sent);
        const FtpOutcome outcome = upload(c.upload, picture);
        if (c.cause.isEmpty()) {
            EXPECT_TRUE(outcome.succeeded) << qPrintable(outcome.failure);
            arrived = picture;
        } else {
            EXPECT_FALSE(outcome.succeeded);
            EXPECT_TRUE(outcome.failure.startsWith(c.cause)) << qPrintable(outcome.failure);
            EXPECT_FALSE(outcome.failure.contains(sshd.password()));
        }
        // Only the last picture that arrived is there, under its final name alone.
        EXPECT_EQ(TestFiles::readAll(remote), arrived);
        EXPECT_EQ(QDir(sshd.uploads()).entryList(QDir::Files),
                  QStringList{QStringLiteral("ab12.pcx")});
    }
}

} // namespace
