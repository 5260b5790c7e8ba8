// The real varnelpayment as the tray program on a desktop of its own (Xvfb, openbox and, for
// the notification area, trayer), driven by clicks and keys as a user would; and without a
// display at all.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include "serverprocess.h"
#include "xdesktop.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kWindowTitle = u"^Varnel Payment$"_s;
const QString kCloseBoxTitle = u"^Varnel Payment Server$"_s;

// The settings window's id, once it exists (shown or not).
QString mainWindow(const XDesktop& desktop)
{
    QString id;
    XDesktop::waitFor([&] {
        const QStringList found = desktop.windows(kWindowTitle, false);
        id = found.isEmpty() ? QString() : found.first();
        return !id.isEmpty();
    });
    return id;
}

// Answers the open close box with a key: Return takes its default button.
bool answerCloseBox(const XDesktop& desktop, const QString& key)
{
    QString box;
    if (!XDesktop::waitFor([&] {
            const QStringList found = desktop.windows(kCloseBoxTitle, true);
            box = found.isEmpty() ? QString() : found.first();
            return !box.isEmpty();
        }))
        return false;
    desktop.run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, box, u"key"_s, key});
    return XDesktop::waitFor([&] { return desktop.windows(kCloseBoxTitle, true).isEmpty(); });
}

// The tray program's window and the place of its one tray icon; no window when it did not
// start into the tray.
struct InTray
{
    QString window;
    QPoint icon;
};

InTray startInTray(const XDesktop& desktop, ServerProcess& server)
{
    server.setHeadless(false);
    server.process().setProcessEnvironment(desktop.environment());
    if (!server.start()) {
        ADD_FAILURE() << "not started: " << server.process().readAllStandardError().constData();
        return {};
    }
    const QString window = mainWindow(desktop);
    if (window.isEmpty() ||
        !XDesktop::waitFor([&] { return desktop.trayIcons(u"varnelpayment"_s).size() == 1; }))
        return {};
    return {window, desktop.trayIcons(u"varnelpayment"_s).first()};
}

} // namespace

TEST(TrayProgramDesktopTest, WithATrayHostItLivesInTheTrayAndEndsThroughTheCloseBox)
{
    XDesktop desktop;
    ASSERT_TRUE(desktop.start(true));
    ServerProcess server({}, {u"--simulate"_s});
    // Start-up ends in the tray: one icon, the window hidden.
    const InTray started = startInTray(desktop, server);
    ASSERT_FALSE(started.window.isEmpty());
    const QString& window = started.window;
    const QPoint icon = started.icon;
    EXPECT_TRUE(XDesktop::waitFor([&] { return !desktop.isViewable(window); }));

    // A click on the icon shows the window.
    desktop.click(icon, 1);
    ASSERT_TRUE(XDesktop::waitFor([&] { return desktop.isViewable(window); }));

    // The window manager's close, answered No (the default): back into the tray.
    desktop.run(u"wmctrl"_s, {u"-i"_s, u"-c"_s, window});
    ASSERT_TRUE(answerCloseBox(desktop, u"Return"_s));
    EXPECT_TRUE(XDesktop::waitFor([&] { return !desktop.isViewable(window); }));
    EXPECT_EQ(desktop.trayIcons(u"varnelpayment"_s).size(), 1);
    EXPECT_EQ(server.process().state(), QProcess::Running);
    EXPECT_FALSE(server.logEntries().contains(u"Application Closed"_s));

    // A card swipe waits for a card while the user chooses Exit from the icon's pop-up (its
    // last item) and answers Yes: the wait unwinds first, then the program shuts down once.
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.send("TRANS=QP6100;ACTION=1;TIMER=60;");
    ASSERT_TRUE(server.waitForLogEntry(u"qp6100_get_swipe: timeout=[60]"_s));
    QElapsedTimer closing;
    closing.start();
    desktop.click(icon, 3);
    QThread::msleep(500);
    desktop.run(u"xdotool"_s, {u"key"_s, u"Up"_s, u"Return"_s});
    ASSERT_TRUE(answerCloseBox(desktop, u"y"_s));
    ASSERT_TRUE(server.process().waitForFinished(10000));
    EXPECT_LT(closing.elapsed(), 10000);
    EXPECT_EQ(server.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(server.process().exitCode(), 0);
    const QByteArray interrupted("<QP6100><ERROR>Error Getting Swipe: Error( 18)</ERROR></QP6100>");
    EXPECT_EQ(client.receive(3000, interrupted.size()), interrupted);
    const QStringList log = server.logEntries();
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log.last(), u"Application Closed"_s);
    EXPECT_EQ(log.count(u"Application Closed"_s), 1);
    EXPECT_EQ(log[log.size() - 2], u"QP6100: Port Closed"_s); // the pad's Disconnect first
    EXPECT_LT(log.indexOf(u"qp6100_get_swipe: Error( 18)"_s), log.size() - 2);
    EXPECT_GE(log.indexOf(u"qp6100_get_swipe: Error( 18)"_s), 0);
    EXPECT_TRUE(desktop.trayIcons(u"varnelpayment"_s).isEmpty());
    // In a sanitizer build nothing was reported either.
    EXPECT_FALSE(server.process().readAllStandardError().contains("runtime error"));
}

TEST(TrayProgramDesktopTest, ABoxMinimisedWithTheWindowComesBackWithAClickOnTheTrayIcon)
{
    XDesktop desktop;
    ASSERT_TRUE(desktop.start(true));
    ServerProcess server({}, {u"--simulate"_s});
    const InTray started = startInTray(desktop, server);
    ASSERT_FALSE(started.window.isEmpty());
    const QString& window = started.window;
    const QPoint icon = started.icon;
    desktop.click(icon, 1);
    ASSERT_TRUE(XDesktop::waitFor([&] { return desktop.isViewable(window); }));

    // The close box is open, and the user minimises it (openbox lets them): the window goes
    // along into the tray.
    desktop.run(u"wmctrl"_s, {u"-i"_s, u"-c"_s, window});
    QString box;
    ASSERT_TRUE(XDesktop::waitFor([&] {
        const QStringList found = desktop.windows(kCloseBoxTitle, true);
        box = found.isEmpty() ? QString() : found.first();
        return !box.isEmpty();
    }));
    desktop.run(u"xdotool"_s, {u"windowminimize"_s, u"--sync"_s, box});
    ASSERT_TRUE(XDesktop::waitFor([&] { return !desktop.isViewable(box); }));

    // A click on the tray icon brings back the window and the box in front of it.
    desktop.click(icon, 1);
    EXPECT_TRUE(XDesktop::waitFor([&] { return desktop.isViewable(box); }));
    EXPECT_TRUE(desktop.isViewable(window));
    // The box still decides: No sends the window to the tray, the program goes on.
    ASSERT_TRUE(answerCloseBox(desktop, u"Return"_s));
    EXPECT_TRUE(XDesktop::waitFor([&] { return !desktop.isViewable(window); }));
    EXPECT_EQ(server.process().state(), QProcess::Running);
    EXPECT_EQ(server.stop(), 0);
}

TEST(TrayProgramDesktopTest, WithoutANotificationAreaTheWindowStaysShown)
{
    XDesktop desktop;
    ASSERT_TRUE(desktop.start(false));
    ServerProcess server;
    server.setHeadless(false);
    server.process().setProcessEnvironment(desktop.environment());
    ASSERT_TRUE(server.start()) << server.process().readAllStandardError().constData();

    const QString window = mainWindow(desktop);
    ASSERT_FALSE(window.isEmpty());
    ASSERT_TRUE(server.waitForLogEntry(u"Tray: no notification area; the window stays open"_s));
    QThread::msleep(500); // time in which a hidden window would have gone
    EXPECT_TRUE(desktop.isViewable(window));

    // SIGTERM ends the tray program without asking.
    EXPECT_EQ(server.stop(), 0);
    EXPECT_TRUE(desktop.windows(kCloseBoxTitle, false).isEmpty());
    EXPECT_EQ(server.logEntries().last(), u"Application Closed"_s);
}

TEST(TrayProgramDesktopTest, WithoutADisplayItSaysToRunHeadlessAndTouchesNoFile)
{
    QTemporaryDir base;
    const QString home = base.filePath(u"home"_s);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);
    program.setProcessEnvironment(environment);
    program.start(ServerProcess::binDir() + u"/varnelpayment"_s, {u"--home"_s, home});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardError().contains("--headless"));
    EXPECT_FALSE(QFileInfo::exists(home));

    // --help still works there, and tells of both ways to run.
    program.start(ServerProcess::binDir() + u"/varnelpayment"_s, {u"--help"_s});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    const QByteArray help = program.readAllStandardOutput();
    EXPECT_TRUE(help.contains("--headless")) << help.constData();
    EXPECT_TRUE(help.contains("notification area")) << help.constData();
}

TEST(TrayProgramDesktopTest, DesktopEntriesStartTheBuiltProgramWithItsIcon)
{
    const QDir share(ServerProcess::binDir() + u"/../share"_s);
    for (const QString& entry :
         {u"applications/varnelpayment.desktop"_s, u"autostart/varnelpayment.desktop"_s}) {
        SCOPED_TRACE(entry.toStdString());
        const QString path = share.filePath(entry);
        QProcess validate;
        validate.start(u"desktop-file-validate"_s, {path});
        ASSERT_TRUE(validate.waitForFinished(10000));
        EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().constData();
        QSettings file(path, QSettings::IniFormat);
        file.beginGroup(u"Desktop Entry"_s);
        EXPECT_EQ(QFileInfo(file.value(u"Exec"_s).toString()).canonicalFilePath(),
                  QFileInfo(ServerProcess::binDir() + u"/varnelpayment"_s).canonicalFilePath());
        EXPECT_EQ(QImage(file.value(u"Icon"_s).toString()).size(), QSize(128, 128));
    }
}
