#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "core/livesettings.h"
#include "core/padtimeout.h"
#include "fakeeventpump.h"
#include "fakeftpclient.h"
#include "fakepaddriver.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "pad/signaturecapture.h"
#include "pad/signatureupload.h"
#include "padtestsupport.h"
#include "recordingreplies.h"

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
        TestFiles::writeAll(settingsPath, "[FTP]\r\nftpUrl=ftp://127.0.0.1:2121\r\n"
                                          "ftpUsername=till\r\nftpPassword=secret\r\n");
    }

    QString sigFile(const QString& name = QStringLiteral("ab12.pcx")) const
    {
        return QDir(home.path()).filePath(QStringLiteral("signatures/") + name);
    }
    int sigcompReads() const { return driver.count(QStringLiteral("GetVariable(SIGCOMP)")); }
    QString onlyReply() const
    {
        EXPECT_EQ(replies.replies.size(), 1u);
        EXPECT_FALSE(replies.replies.empty() || replies.replies.front().skipDebug);
        return replies.texts().value(0);
    }
    // The pen data read after two empty reads.
    void signOnThirdRead(const QString& sigData)
    {
        driver.sigcompReads = {{kNul, 1}, {QString(), 0}, {sigData, 1}};
    }

    QTemporaryDir home;
    QString settingsPath = QDir(home.path()).filePath(QStringLiteral("varnelpayment.ini"));
    FakePadDriver driver;
    TestLog log;
    LiveSettings settings;
    FixedFileChooser chooser;
    RecordingReplies replies;
    FakeEventPump pump;
    FakeFtpClient ftp;
    PadTimeout padTimeout;
    PadConnection connection{driver, settings, log.log(), chooser};
    PadVariables variables{driver, log.log()};
    SignatureUpload upload{settingsPath, log.log(), ftp, pump, padTimeout};
    SignatureCapture capture{driver,  connection, variables,  log.log(),
                             replies, pump,       padTimeout, upload};
};

TEST_F(SignatureCaptureTest, PenDataFoundAtTheThirdReadIsSavedAsItsRawTextAndAnswered)
{
    const QString sigData(1000, QLatin1Char('x'));
    signOnThirdRead(sigData);
    capture.qp6100_get_signature(sigFile(), false, QStringLiteral("/vm/"));

    EXPECT_EQ(sigcompReads(), 3);
    EXPECT_EQ(pump.elapsedMs(), 1500);
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
        replies.replies.clear();
        ftp.uploads.clear();
        driver.saveStatus = c.saveStatus;
        ftp.succeeds = c.uploadSucceeds;
        TestFiles::writeAll(sigFile(), "picture");
        signOnThirdRead(QString(c.sigDataLength, QLatin1Char('S')));
        capture.qp6100_get_signature(sigFile(), c.doFtp, QStringLiteral("/in/"));

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
    capture.qp6100_get_signature(sigFile(), true, QStringLiteral("/in/"));
    EXPECT_EQ(padTimeout.seconds(), 60);
    EXPECT_EQ(pump.steps(), 120);
    EXPECT_EQ(sigcompReads(), 119);
    EXPECT_EQ(onlyReply(), kTimeoutReply);
    EXPECT_EQ(driver.calls.last(), QStringLiteral("ShowForm(padWelcome)"));
    EXPECT_EQ(driver.count(QStringLiteral("SaveSignature(") + sigFile() + QLatin1Char(')')), 0);
    EXPECT_TRUE(ftp.uploads.empty());
    EXPECT_EQ(log.entries().first(), QStringLiteral("qp6100_get_signature: timeout=[60]"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_signature: Timeout"));

    // A limit lowered by a request served during the wait ends it at the next step.
    replies.replies.clear();
    padTimeout.setSeconds(30);
    pump.onStep = [this](int step) {
        if (step == 120 + 4)
            padTimeout.setSeconds(1);
    };
    capture.qp6100_get_signature(sigFile(), false, QStringLiteral("/in/"));
    EXPECT_EQ(pump.steps(), 120 + 4);
    EXPECT_EQ(onlyReply(), kTimeoutReply);
}

TEST_F(SignatureCaptureTest, ADisabledPadOrAFailingDriverAnswersWithAnError)
{
    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Unticked);
    }
    padTimeout.setSeconds(0);
    capture.qp6100_get_signature(sigFile(), false, QStringLiteral("/in/"));
    EXPECT_EQ(onlyReply(), QStringLiteral("<QP6100><ERROR>QP6100 Not Enabled in Varnel Payment "
                                          "Setup</ERROR></QP6100>"));
    EXPECT_TRUE(driver.calls.isEmpty());
    EXPECT_EQ(padTimeout.seconds(), 0);
    EXPECT_EQ(log.entries(), QStringList{QStringLiteral("QP6100: Device is Not Enabled")});

    {
        const QSignalBlocker block(settings);
        settings.setChkQP6100Device(LiveSettings::Ticked);
    }
    replies.replies.clear();
    pump.onStep = [this](int step) {
        if (step == 2)
            driver.throwOn = QStringLiteral("GetVariable:SIGCOMP");
    };
    driver.throwCode = 13;
    capture.qp6100_get_signature(sigFile(), false, QStringLiteral("/in/"));
    EXPECT_EQ(
        onlyReply(),
        QStringLiteral("<QP6100><ERROR>Error Getting Signature: Error( 13)</ERROR></QP6100>"));
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_get_signature: Error( 13)"));
}

TEST_F(SignatureCaptureTest, DeleteRemovesAWritableEarlierPictureOnly)
{
    capture.qp6100_delete_signature(sigFile());
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
    capture.qp6100_delete_signature(sigFile());
    EXPECT_EQ(log.entries().last(), QStringLiteral("qp6100_delete_signature: 3/4/2026 5:05:09 PM"));
    EXPECT_FALSE(QFile::exists(sigFile()));

    // Without forcing, a read-only picture stays and the failure goes to the caller.
    TestFiles::writeAll(sigFile(), "kept");
    QFile::setPermissions(sigFile(), QFileDevice::ReadOwner);
    try {
        capture.qp6100_delete_signature(sigFile());
        ADD_FAILURE() << "a read-only picture was deleted";
    } catch (const Failure& failure) {
        EXPECT_EQ(failure.code(), FailureCode::PermissionDenied);
    }
    EXPECT_EQ(TestFiles::readAll(sigFile()), QByteArray("kept"));
}

} // namespace
