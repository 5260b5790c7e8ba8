#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "fakeftpclient.h"
#include "fakepaddriver.h"
#include "fakescheduler.h"
#include "pad/cardswipe.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "pad/signaturecapture.h"
#include "pad/signatureupload.h"
#include "padtestsupport.h"

namespace {

const QString kNul = QString(QChar(0));
const QString kTimeoutReply = QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
const QString kFailedReply =
    QStringLiteral("<QP6100><ERROR>Error Getting Signature</ERROR></QP6100>");

class SignatureCaptureTest : public ::testing::Test
{
protected:
    SignatureCaptureTest()
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Ticked);
        padTimeout.setSeconds(30);
    }

    QString sigFile(const QString& name = QStringLiteral("ab12.pcx")) const
    {
        return QDir(home.path()).filePath(QStringLiteral("signatures/") + name);
    }
    int sigcompReads() const { return driver.count(QStringLiteral("GetVariable(SIGCOMP)")); }
    QString onlyReply() const
    {
        EXPECT_FALSE(runs.only().reply && runs.only().reply->skipDebug);
        return runs.onlyXml();
    }
    SignatureCapture& newCapture(const QString& file, bool doFtp, const QString& ftpPath)
    {
        captures.push_back(std::make_unique<SignatureCapture>(
            pad, FtpSource{ftp, [this] { return ftpSettings; }}, file, doFtp, ftpPath));
        return *captures.back();
    }
    // Runs one signature to its end.
    const OperationRuns::End& signOnce(const QString& file, bool doFtp, const QString& ftpPath)
    {
        runs.ends.clear();
        runs.run(newCapture(file, doFtp, ftpPath));
        return runs.only();
    }
    // The pen data read after two empty reads.
    void signOnThirdRead(const QString& sigData)
    {
        driver.sigcompReads = {{kNul, 1}, {QString(), 0}, {sigData, 1}};
    }

    QTemporaryDir home;
    FakePadDriver driver;
    TestLog log;
    LiveSettings settings;
    FixedFileChooser chooser;
    FakeScheduler scheduler;
    FakeFtpClient ftp{scheduler};
    FtpSettings ftpSettings{QStringLiteral("ftp://127.0.0.1:2121"), QStringLiteral("till"),
                            QStringLiteral("secret")};
    PadTimeout padTimeout;
    PadConnection connection{driver, settings, log.log(), chooser};
    PadVariables variables{driver, log.log()};
    PadContext pad{driver, connection, variables, log.log(), scheduler, padTimeout};
    OperationRuns runs{scheduler};
    std::vector<std::unique_ptr<SignatureCapture>> captures;
};

TEST_F(SignatureCaptureTest, PenDataFoundAtTheThirdReadIsSavedAsItsRawTextAndAnswered)
{
    const QString sigData(1000, QLatin1Char('x'));
    signOnThirdRead(sigData);
    const OperationRuns::End& end = signOnce(sigFile(), false, QStringLiteral("/vm/"));

    EXPECT_EQ(sigcompReads(), 3);
    EXPECT_EQ(end.atMs, 1500);
    EXPECT_EQ(driver.calls.mid(0, 2), (QStringList{QStringLiteral("SetVariable(SIGCOMP)"),
                                                   QStringLiteral("ShowForm(padSig)")}));
    EXPECT_EQ(driver.sets.at(0).bytes, QByteArray(2, '\0'));
    EXPECT_EQ(driver.calls.last(), QStringLiteral("SaveSignature(") + sigFile() + QLatin1Char(')'));
    EXPECT_EQ(driver.savedCount, 2000);
    EXPECT_EQ(driver.savedBytes, QByteArray("x\0", 2).repeated(1000));
    EXPECT_EQ(onlyReply(), QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>") +
                               sigFile() + QStringLiteral("</SIGPATH></QP6100>"));
    EXPECT_TRUE(ftp.uploads.empty());
    EXPECT_EQ(log.entries(), (QStringList{QStringLiteral("qp6100_get_signature: timeout=[30]"),
                                          QStringLiteral("Get Signature:"),
                                          QStringLiteral("setVar: SIGCOMP flush Successful"),
                                          QStringLiteral("qp6100_get_signature: sigData captured"),
                                          QStringLiteral("qp6100_get_signature: signature save "
                                                         "file")}));
    // The signatures folder was made for the picture, readable by its owner only.
    EXPECT_EQ(TestFiles::unixMode(QFileInfo(sigFile()).absolutePath()), 0700);
}

TEST_F(SignatureCaptureTest, EachOutcomeAfterTheSignatureHasItsReply)
{
    const QString saved = QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>") + sigFile() +
                          QStringLiteral("</SIGPATH></QP6100>");
    const struct
    {
        const char* what;
        int sigDataLength;
        qint16 saveStatus;
        bool doFtp;
        bool uploadSucceeds;
        QString reply;
        int uploads;
        QString lastLogLine;
    } cases[] = {
        {"saved", 50, 1, false, true, saved, 0, {}},
        {"longest data", 16383, 1, false, true, saved, 0, {}},
        {"save refused", 50, 0, true, true, kFailedReply, 0,
         QStringLiteral("qp6100_get_signature: signature save failed")},
        {"save answers 2", 50, 2, false, true, kFailedReply, 0,
         QStringLiteral("qp6100_get_signature: signature save failed")},
        {"uploaded", 50, 1, true, true, saved, 1,
         QStringLiteral("sig_ftp: inetCmd=[PUT ") + sigFile() + QStringLiteral(" /in/ab12.pcx]")},
        {"upload failed", 50, 1, true, false, kFailedReply, 1,
         QStringLiteral("sig_ftp: transfer failed [550 No such file or directory]")},
        {"too much data", 16384, 1, false, true,
         QStringLiteral("<QP6100><ERROR>Error Getting Signature: Error( 6)</ERROR></QP6100>"), 0,
         QStringLiteral("qp6100_get_signature: Error( 6)")},
    };
    QDir().mkpath(QFileInfo(sigFile()).absolutePath());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        driver.calls.clear();
        ftp.uploads.clear();
        driver.saveStatus = c.saveStatus;
        ftp.succeeds = c.uploadSucceeds;
        TestFiles::writeAll(sigFile(), "picture");
        signOnThirdRead(QString(c.sigDataLength, QLatin1Char('S')));
        signOnce(sigFile(), c.doFtp, QStringLiteral("/in/"));

        EXPECT_EQ(onlyReply(), c.reply);
        EXPECT_EQ(int(ftp.uploads.size()), c.uploads);
        const bool saveCalled = c.sigDataLength <= 16383;
        EXPECT_EQ(driver.count(QStringLiteral("SaveSignature(") + sigFile() + QLatin1Char(')')),
                  saveCalled ? 1 : 0);
        if (saveCalled) {
            EXPECT_EQ(driver.savedCount, c.sigDataLength * 2);
        }
        if (!c.lastLogLine.isEmpty()) {
            EXPECT_EQ(log.entries().last(), c.lastLogLine);
        }
        // Only a finished upload removes the picture.
        EXPECT_EQ(QFile::exists(sigFile()), !(c.uploads && c.uploadSucceeds));
    }
}

TEST_F(SignatureCaptureTest, TheWaitReadsTwiceTheLimitLessOneTimesThenShowsWelcome)
{
    padTimeout.setSeconds(0);
    EXPECT_EQ(signOnce(sigFile(), true, QStringLiteral("/in/")).atMs, 60000);
    EXPECT_EQ(padTimeout.seconds(), 60);
    EXPECT_EQ(sigcompReads(), 119);
    EXPECT_EQ(onlyReply(), kTimeoutReply);
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(driver.count(QStringLiteral("SaveSignature(") + sigFile() + QLatin1Char(')')), 0);
    EXPECT_TRUE(ftp.uploads.empty());
    EXPECT_EQ(log.entries().first(), QStringLiteral("qp6100_get_signature: timeout=[60]"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_signature: Timeout"));

    // A limit lowered by a request served during the wait ends it at the next step.
    padTimeout.setSeconds(30);
    const qint64 started = scheduler.elapsedMs();
    runs.at(started + 1750, [this] { padTimeout.setSeconds(1); });
    EXPECT_EQ(signOnce(sigFile(), false, QStringLiteral("/in/")).atMs - started, 2000);
    EXPECT_EQ(onlyReply(), kTimeoutReply);
}

TEST_F(SignatureCaptureTest, ADisabledPadOrAFailingDriverAnswersWithAnError)
{
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Unticked);
    }
    padTimeout.setSeconds(0);
    runs.start(newCapture(sigFile(), false, QStringLiteral("/in/")));
    // Answered before start returns, with nothing left on the loop.
    EXPECT_EQ(scheduler.pending(), 0u);
    EXPECT_EQ(onlyReply(), QStringLiteral("<QP6100><ERROR>QP6100 Not Enabled in Varnel Payment "
                                          "Setup</ERROR></QP6100>"));
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(padTimeout.seconds(), 0);
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});

    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Ticked);
    }
    runs.at(750, [this] { driver.throwOn = QStringLiteral("GetVariable:SIGCOMP"); });
    driver.throwCode = 13;
    EXPECT_EQ(signOnce(sigFile(), false, QStringLiteral("/in/")).atMs, 1000);
    EXPECT_EQ(
        onlyReply(),
        QStringLiteral("<QP6100><ERROR>Error Getting Signature: Error( 13)</ERROR></QP6100>"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_signature: Error( 13)"));
}

TEST_F(SignatureCaptureTest, DeleteRemovesAWritableEarlierPictureOnly)
{
    SignatureCapture::qp6100_delete_signature(log.log(), sigFile());
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("qp6100_delete_signature: ") + sigFile() +
                                         QStringLiteral(" doesn't exist")});

    QDir().mkpath(QFileInfo(sigFile()).absolutePath());
    TestFiles::writeAll(sigFile(), "old");
    const QDateTime modified(QDate(2026, 3, 4), QTime(17, 5, 9));
    {
        QFile file(sigFile());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
    }
    SignatureCapture::qp6100_delete_signature(log.log(), sigFile());
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_delete_signature: 3/4/2026 5:05:09 PM"));
    EXPECT_FALSE(QFile::exists(sigFile()));

    // Without forcing, a read-only picture stays and the failure goes to the caller.
    TestFiles::writeAll(sigFile(), "kept");
    QFile::setPermissions(sigFile(), QFileDevice::ReadOwner);
    try {
        SignatureCapture::qp6100_delete_signature(log.log(), sigFile());
        ADD_FAILURE() << "a read-only picture was deleted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PermissionDenied);
    }
    EXPECT_EQ(TestFiles::readAll(sigFile()), QByteArray("kept"));
}

TEST_F(SignatureCaptureTest, AClientGoneEndsItWithoutAReplyAndTheProgramClosingAtOnce)
{
    QDir().mkpath(QFileInfo(sigFile()).absolutePath());
    const QString abandoned = sigFile() + QStringLiteral(" kept");
    const struct
    {
        const char* what;
        // When it happens: during the pen wait (before the third read) or the upload.
        qint64 atMs;
        bool closing;
        int sigcompReads;
        int abandonedTransfers;
        QString lastLogLine;
        bool welcomeShown;
        // The reply, given before close() returns; none for a client gone.
        std::optional<QString> reply;
    } cases[] = {
        {"client gone during the pen wait", 1400, false, 2, 0,
         QStringLiteral("qp6100_get_signature: client gone"), true, std::nullopt},
        {"client gone during the upload", 2000, false, 3, 1,
         QStringLiteral("sig_ftp: client gone: transfer abandoned, ") + abandoned, false,
         std::nullopt},
        {"program closing during the pen wait", 1400, true, 2, 0,
         QStringLiteral("qp6100_get_signature: Error( 18)"), false,
         QStringLiteral("<QP6100><ERROR>Error Getting Signature: Error( 18)</ERROR></QP6100>")},
        {"program closing during the upload", 2000, true, 3, 1,
         QStringLiteral("sig_ftp: the program is closing: transfer abandoned, ") + abandoned, false,
         kFailedReply},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TestLog caseLog;
        PadContext casePad{driver, connection, variables, caseLog.log(), scheduler, padTimeout};
        FakeFtpClient client(scheduler);
        client.transferMs = 3000;
        driver.calls.clear();
        runs.ends.clear();
        TestFiles::writeAll(sigFile(), "picture");
        signOnThirdRead(QStringLiteral("pen"));
        SignatureCapture capture(casePad, FtpSource{client, [this] { return ftpSettings; }},
                                 sigFile(), true, QStringLiteral("/in/"));
        const qint64 started = scheduler.elapsedMs();
        runs.start(capture);
        bool answeredInClose = false;
        runs.at(started + c.atMs, [&] {
            if (c.closing) {
                capture.close();
                answeredInClose = runs.ends.size() == 1;
            } else {
                capture.clientGone();
            }
        });
        scheduler.runUntilIdle();

        ASSERT_EQ(runs.ends.size(), 1u);
        EXPECT_EQ(runs.ends.front().reply ? std::optional(runs.ends.front().reply->xml)
                                          : std::nullopt,
                  c.reply);
        EXPECT_EQ(answeredInClose, c.closing);
        EXPECT_EQ(sigcompReads(), c.sigcompReads);
        EXPECT_EQ(client.abandoned, c.abandonedTransfers);
        EXPECT_EQ(caseLog.entries().last(), c.lastLogLine);
        EXPECT_EQ(driver.calls.last() == QStringLiteral("ShowForm(padWelcome)"), c.welcomeShown);
        // The picture stays for the till's retry.
        EXPECT_EQ(TestFiles::readAll(sigFile()), QByteArray("picture"));
        EXPECT_EQ(scheduler.pending(), 0u);
    }
}

TEST_F(SignatureCaptureTest, TheReplyGoesOutWhenTheUploadEndsWhileAnotherWaitGoesOn)
{
    QDir().mkpath(QFileInfo(sigFile()).absolutePath());
    TestFiles::writeAll(sigFile(), "picture");
    signOnThirdRead(QStringLiteral("pen"));
    ftp.transferMs = 1234;
    padTimeout.setSeconds(5);
    // A swipe waits on the same loop meanwhile (another till's, say): neither holds the other.
    CardSwipe swipe(pad);
    runs.start(newCapture(sigFile(), true, QStringLiteral("/in/")));
    runs.at(1600, [this, &swipe] { runs.start(swipe); });
    scheduler.runUntilIdle();

    ASSERT_EQ(runs.ends.size(), 2u);
    // The pen data at 1.5 s, the upload's end 1.234 s later: answered then, not at a step.
    EXPECT_EQ(runs.ends[0].atMs, 1500 + 1234);
    ASSERT_TRUE(runs.ends[0].reply);
    EXPECT_EQ(runs.ends[0].reply->xml,
              QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>") + sigFile() +
                  QStringLiteral("</SIGPATH></QP6100>"));
    EXPECT_FALSE(QFile::exists(sigFile()));
    // The swipe ends at its own limit.
    EXPECT_EQ(runs.ends[1].atMs, 1600 + 5000);
    EXPECT_EQ(runs.ends[1].reply->xml, kTimeoutReply);
    ASSERT_EQ(ftp.uploads.size(), 1u);
    EXPECT_EQ(ftp.uploads.front().timeoutSeconds, 5);
    EXPECT_EQ(ftp.uploads.front().remoteName, QStringLiteral("/in/ab12.pcx"));
}

} // namespace
