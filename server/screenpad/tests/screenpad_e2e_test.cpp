// The real server with the screen pad, on a desktop of its own (Xvfb and openbox): a card
// reader's keys typed into the pad and a signature drawn with the mouse, both with xdotool as
// a customer would; the time-out back to the welcome form; the keyboard given back to another
// program's till window after each swipe; and a run without any display.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include "serverprocess.h"
#include "testfiles.h"
#include "xdesktop.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kTrack1 = u"%B4111111111111111^DOE/JANE^29121010000000000000?"_s;
const QString kTrack2 = u";4111111111111111=29121010000000000000?"_s;
const QString kScreenPad = u"[QP6100]\r\nqp6100Device=1\r\nDriver=screen\r\n"_s;

// The pure white box on the screen: where the customer signs. Empty when none shows.
QRect signingBox(const XDesktop& desktop, const QString& folder)
{
    const QString shot = folder + u"/screen.png"_s;
    QFile::remove(shot);
    desktop.run(u"/usr/bin/import"_s, {u"-window"_s, u"root"_s, shot});
    const QImage screen = QImage(shot).convertToFormat(QImage::Format_RGB32);
    QRect white;
    for (int y = 0; y < screen.height(); ++y)
        for (int x = 0; x < screen.width(); ++x)
            if (screen.pixel(x, y) == qRgb(255, 255, 255))
                white |= QRect(x, y, 1, 1);
    return white;
}

// A stroke with the mouse's left button between two places given as shares of the box.
void drawStroke(const XDesktop& desktop, const QRect& box, QPointF from, QPointF to)
{
    const auto place = [&](QPointF share) {
        return QStringList{QString::number(box.x() + int(share.x() * box.width())),
                           QString::number(box.y() + int(share.y() * box.height()))};
    };
    QStringList arguments =
        QStringList{u"mousemove"_s} + place(from) + QStringList{u"mousedown"_s, u"1"_s};
    for (int step = 1; step <= 8; ++step) {
        const QPointF at = from + (to - from) * (step / 8.0);
        arguments += QStringList{u"mousemove"_s} + place(at) + QStringList{u"sleep"_s, u"0.02"_s};
    }
    arguments += QStringList{u"mouseup"_s, u"1"_s};
    desktop.run(u"xdotool"_s, arguments);
}

// The signature picture as ink (true) and paper, one pixel per pen point.
QImage signaturePicture(const QString& pcx, const QString& folder)
{
    const QString png = folder + u"/signature.png"_s;
    QProcess convert;
    convert.start(u"/usr/bin/convert"_s, {pcx, png});
    convert.waitForFinished(10000);
    return QImage(png).convertToFormat(QImage::Format_Grayscale8);
}

bool inkNear(const QImage& picture, int x, int y)
{
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            if (picture.valid(x + dx, y + dy) && qGray(picture.pixel(x + dx, y + dy)) < 128)
                return true;
    return false;
}

// The window that the desktop's window manager names as active.
qulonglong activeWindow(const XDesktop& desktop)
{
    return desktop.run(u"xdotool"_s, {u"getactivewindow"_s}).trimmed().toULongLong();
}

// The next line the till window printed, within 10 s; empty when none came.
QByteArray tillLine(QProcess& till)
{
    QDeadlineTimer deadline(10000);
    while (!till.canReadLine() && !deadline.hasExpired() && till.state() == QProcess::Running)
        till.waitForReadyRead(200);
    return till.readLine().trimmed();
}

} // namespace

TEST(ScreenPadDesktopTest, ACustomerSwipesAndSignsOnTheScreenPad)
{
    XDesktop desktop;
    ASSERT_TRUE(desktop.start(false));
    ServerProcess server(kScreenPad);
    server.process().setProcessEnvironment(desktop.environment());
    ASSERT_TRUE(server.start()) << server.process().readAllStandardError().constData();
    ASSERT_TRUE(server.waitForLogEntry(u"QP6100: Port Opened"_s));
    QStringList pad;
    ASSERT_TRUE(XDesktop::waitFor([&] {
        pad = desktop.windows(u"^Varnel Pad$"_s, true);
        return !pad.isEmpty();
    }));

    // The reader types both tracks and Return into the pad, which has taken the keyboard.
    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    client.send("TRANS=QP6100;ACTION=1;TIMER=30;");
    ASSERT_TRUE(server.waitForLogEntry(u"qp6100_get_swipe: timeout=[30]"_s));
    ASSERT_TRUE(XDesktop::waitFor([&] {
        return desktop.run(u"xdotool"_s, {u"getwindowfocus"_s}).trimmed().toULongLong() ==
               pad.first().toULongLong();
    }));
    desktop.run(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"5"_s, kTrack1 + kTrack2});
    desktop.run(u"xdotool"_s, {u"key"_s, u"Return"_s});
    const QByteArray swipe = "<QP6100><SWIPE><TRACK1>" + kTrack1.toLatin1() + "</TRACK1><TRACK2>" +
                             kTrack2.toLatin1() + "</TRACK2></SWIPE></QP6100>";
    EXPECT_EQ(client.receive(10000, swipe.size()), swipe);

    // A stroke, cleared with Escape; then the signature, handed over with Return.
    client.send("TRANS=QP6100;ACTION=2;UNIQU=E2E1;NAME=Jane Doe;TOTAL=9.99;ACCOUNT=7;TIMER=30;");
    ASSERT_TRUE(server.waitForLogEntry(u"Get Signature:"_s));
    QRect box;
    ASSERT_TRUE(XDesktop::waitFor([&] {
        box = signingBox(desktop, server.home());
        return box.width() > 400;
    }));
    drawStroke(desktop, box, {0.5, 0.1}, {0.5, 0.9});
    desktop.run(u"xdotool"_s, {u"key"_s, u"Escape"_s});
    drawStroke(desktop, box, {0.1, 0.25}, {0.9, 0.75});
    desktop.run(u"xdotool"_s, {u"key"_s, u"Return"_s});
    const QString pcx = server.home() + u"/signatures/e2e1.pcx"_s;
    const QByteArray signed_ = "<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>" +
                               QFile::encodeName(pcx) + "</SIGPATH></QP6100>";
    EXPECT_EQ(client.receive(10000, signed_.size()), signed_);

    const QImage picture = signaturePicture(pcx, server.home());
    ASSERT_EQ(picture.size(), QSize(400, 120));
    // The diagonal from (40, 30) to (360, 90) is there, joined, and nothing else.
    for (int x = 60; x <= 340; x += 20)
        EXPECT_TRUE(inkNear(picture, x, 30 + (x - 40) * 60 / 320)) << x;
    EXPECT_FALSE(inkNear(picture, 200, 20)); // the cleared stroke
    EXPECT_FALSE(inkNear(picture, 200, 105));
    EXPECT_FALSE(inkNear(picture, 20, 100));

    // Nothing of the card reached the log.
    const QString log = server.logEntries().join(u'\n');
    EXPECT_FALSE(log.contains(u"4111"_s));
    EXPECT_FALSE(log.contains(u"DOE/JANE"_s));

    // A signature not given in time: the time-out reply, and the welcome form again.
    client.send("TRANS=QP6100;ACTION=2;UNIQU=E2E2;TIMER=2;");
    ASSERT_TRUE(server.waitForLogEntry(u"Get Signature:"_s));
    ASSERT_TRUE(XDesktop::waitFor([&] { return signingBox(desktop, server.home()).isValid(); }));
    drawStroke(desktop, box, {0.2, 0.5}, {0.4, 0.5});
    const QByteArray timeout("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
    EXPECT_EQ(client.receive(10000, timeout.size()), timeout);
    EXPECT_TRUE(XDesktop::waitFor([&] { return !signingBox(desktop, server.home()).isValid(); }));
    EXPECT_FALSE(QFile::exists(server.home() + u"/signatures/e2e2.pcx"_s));

    EXPECT_EQ(server.stop(), 0);
    EXPECT_TRUE(desktop.windows(u"^Varnel Pad$"_s, false).isEmpty());
    EXPECT_FALSE(server.process().readAllStandardError().contains("runtime error"));
}

TEST(ScreenPadDesktopTest, AfterEachSwipeTheTillProgramHasTheKeyboardAgain)
{
    XDesktop desktop;
    ASSERT_TRUE(desktop.start(false));
    ServerProcess server(kScreenPad);
    server.process().setProcessEnvironment(desktop.environment());
    ASSERT_TRUE(server.start()) << server.process().readAllStandardError().constData();
    ASSERT_TRUE(server.waitForLogEntry(u"QP6100: Port Opened"_s));
    QStringList pad;
    ASSERT_TRUE(XDesktop::waitFor([&] {
        pad = desktop.windows(u"^Varnel Pad$"_s, true);
        return !pad.isEmpty();
    }));

    // The till is another program, whose window the cashier types into.
    QProcess till;
    till.setProcessEnvironment(desktop.environment());
    till.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    till.start(ServerProcess::binDir() + u"/varnel-tillwindow"_s);
    ASSERT_TRUE(till.waitForStarted(5000));
    QStringList tillWindow;
    ASSERT_TRUE(XDesktop::waitFor([&] {
        tillWindow = desktop.windows(u"^Varnel Till$"_s, true);
        return !tillWindow.isEmpty();
    }));
    const qulonglong tillId = tillWindow.first().toULongLong();
    desktop.run(u"xdotool"_s, {u"windowactivate"_s, u"--sync"_s, tillWindow.first()});
    ASSERT_TRUE(XDesktop::waitFor([&] { return activeWindow(desktop) == tillId; }));

    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    const QByteArray swipe = "<QP6100><SWIPE><TRACK1>" + kTrack1.toLatin1() + "</TRACK1><TRACK2>" +
                             kTrack2.toLatin1() + "</TRACK2></SWIPE></QP6100>";
    const QByteArray timeout("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>");
    // A swipe ends with the card read or with the time given up; the keyboard comes back
    // either way.
    struct Ending
    {
        const char* request;
        bool cardSwiped;
        QByteArray reply;
    };
    const Ending endings[] = {
        {"TRANS=QP6100;ACTION=1;TIMER=30;", true, swipe},
        {"TRANS=QP6100;ACTION=1;TIMER=2;", false, timeout},
    };
    int typedLine = 0;
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.request);
        client.send(ending.request);
        ASSERT_TRUE(XDesktop::waitFor([&] { return activeWindow(desktop) != tillId; }));
        ASSERT_TRUE(XDesktop::waitFor([&] {
            return desktop.run(u"xdotool"_s, {u"getwindowfocus"_s}).trimmed().toULongLong() ==
                   pad.first().toULongLong();
        }));
        if (ending.cardSwiped) {
            desktop.run(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"5"_s, kTrack1 + kTrack2});
            desktop.run(u"xdotool"_s, {u"key"_s, u"Return"_s});
        }
        EXPECT_EQ(client.receive(10000, ending.reply.size()), ending.reply);

        // The till's window is active again and what the cashier types reaches it.
        EXPECT_TRUE(XDesktop::waitFor([&] { return activeWindow(desktop) == tillId; }))
            << activeWindow(desktop);
        const QByteArray typed = "till " + QByteArray::number(++typedLine);
        desktop.run(u"xdotool"_s, {u"type"_s, u"--delay"_s, u"5"_s, QString::fromLatin1(typed)});
        desktop.run(u"xdotool"_s, {u"key"_s, u"Return"_s});
        // The till's next line is the cashier's: nothing of the card reached it.
        EXPECT_EQ(tillLine(till), typed);
    }

    EXPECT_EQ(server.stop(), 0);
    till.terminate();
    if (!till.waitForFinished(5000)) {
        till.kill();
        till.waitForFinished(5000);
    }
}

TEST(ScreenPadDesktopTest, WithoutADisplayTheScreenPadFailsToConnectAndTheServerServesOn)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
        environment.remove(name);

    // --pad screen overrides the settings file's simulated pad for the run.
    ServerProcess server(u"[QP6100]\r\nqp6100Device=1\r\nDriver=simulated\r\n"_s,
                         {u"--pad"_s, u"screen"_s});
    server.process().setProcessEnvironment(environment);
    ASSERT_TRUE(server.start()) << server.process().readAllStandardError().constData();
    const QStringList log = server.logEntries();
    EXPECT_TRUE(log.contains(u"Screen pad: no display to show the pad on"_s));
    EXPECT_TRUE(log.contains(u"QP6100: Error Opening Port -- Error (2)"_s));
    EXPECT_FALSE(log.contains(u"QP6100: Port Opened"_s));

    TestClient client;
    ASSERT_TRUE(client.connectTo(server.port()));
    const QByteArray notSetUp(
        "<QP6100><ERROR>QP6100 Not Setup in Varnel Payment Setup</ERROR></QP6100>");
    EXPECT_EQ(client.transact("TRANS=QP6100;ACTION=1;TIMER=5;", notSetUp), notSetUp);
    EXPECT_EQ(client.transact("TRANS=VERSION;", "<VERSION>1.0.0</VERSION>"),
              "<VERSION>1.0.0</VERSION>");
    EXPECT_EQ(server.stop(), 0);

    // A driver the program does not have is refused on the command line.
    QProcess program;
    program.setProcessEnvironment(environment);
    program.start(ServerProcess::binDir() + u"/varnelpayment"_s,
                  {u"--headless"_s, u"--home"_s, server.home(), u"--pad"_s, u"paper"_s});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_TRUE(program.readAllStandardError().contains("--pad takes 'simulated' or 'screen'"));
}
