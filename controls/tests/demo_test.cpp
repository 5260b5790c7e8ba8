// The demo host saving and reloading its controls' properties, run the way the screenshot is made.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

struct DemoRun
{
    int exitCode = -1;
    QString errors;
};

DemoRun runDemo(const QString& settingsPath, const QString& screenshotPath)
{
    QProcess demo;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    demo.setProcessEnvironment(environment);
    demo.start(QStringLiteral(QUILLSET_DEMO),
               {u"--settings"_s, settingsPath, u"--screenshot"_s, screenshotPath});
    DemoRun run;
    if (!demo.waitForFinished(60000)) {
        demo.kill();
        demo.waitForFinished();
        run.errors = u"the demo did not finish"_s;
        return run;
    }
    run.exitCode = demo.exitStatus() == QProcess::NormalExit ? demo.exitCode() : -1;
    run.errors = QString::fromLocal8Bit(demo.readAllStandardError());
    return run;
}

} // namespace

TEST(DemoPropertyStores, SavesTheControlsThatDifferFromTheirDefaults)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString settingsPath = dir.filePath(u"demo.ini"_s);
    const DemoRun run = runDemo(settingsPath, dir.filePath(u"demo.png"_s));
    ASSERT_EQ(run.exitCode, 0) << run.errors.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(u"demo.png"_s)));

    QFile saved(settingsPath);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QByteArray text = saved.readAll();
    EXPECT_TRUE(text.contains("[SigControl1]\nConnectLines=true\nForeColor=8388608\n"))
        << text.constData();
    EXPECT_TRUE(text.contains("[MSRControl1]\nTimeOut=30\n")) << text.constData();
    EXPECT_FALSE(text.contains("SigControl2")) << text.constData();
}

TEST(DemoPropertyStores, AFailedSaveIsReportedAndNothingIsReloaded)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath(u"plain"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    // A file under a regular file cannot be made, not even by the superuser.
    const QString settingsPath = plain.fileName() + u"/demo.ini"_s;
    const DemoRun run = runDemo(settingsPath, dir.filePath(u"demo.png"_s));
    EXPECT_EQ(run.exitCode, 1);
    // The last report is the failed save: no success, and no reload after it.
    EXPECT_TRUE(
        run.errors.contains(u"Cannot save the settings: the settings file "_s + settingsPath))
        << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains(u"Saved"_s)) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains(u"Reloaded"_s)) << run.errors.toStdString();
    EXPECT_FALSE(run.errors.contains(u"Nothing is saved"_s)) << run.errors.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath(u"demo.png"_s)));
}
