// The tray program's life with a recording desktop: start-up into the notification area (or
// not), the close box's answers for every close request, the tray icon's events and View Log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "qtprinters.h"
#include "serverprocess.h"
#include "shell/mainmenus.h"
#include "shell/mainwindow.h"
#include "shell/systemtrayicon.h"
#include "shell/widgetquestionbox.h"
#include "shelltestserver.h"
#include "testfiles.h"
#include "tls/certificatemaker.h"

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kCloseTitle = u"Varnel Payment Server"_s;
const QString kCloseText = u"Are you Sure you Want to Close Varnel Payment Server?\n"
                           "Yes to close, No to Minimize, Cancel to Return"_s;
const QString kNoTrayLine = u"Tray: no notification area; the window stays open"_s;

QByteArray settings(quint16 port, bool padBox)
{
    return "[Local]\r\nlocalSockport=" + QByteArray::number(port) +
           "\r\n[QP6100]\r\nqp6100Device=" + (padBox ? "1" : "0") +
           "\r\n[Simulator]\r\npadControlPort=" + QByteArray::number(ServerProcess::freePort()) +
           "\r\n";
}

// Counts the times a widget was shown.
class ShowCounter : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
    int shows = 0;
};

enum class Shown { InTray, Open, OnTaskBar };

Shown windowState(const MainWindow& window)
{
    if (!window.isVisible())
        return Shown::InTray;
    return window.isMinimized() ? Shown::OnTaskBar : Shown::Open;
}

void processEvents()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(TrayProgramTest, TheIconSaysHowManyPicturesWaitForTheirUpload)
{
    ShellTestServer s(settings(ServerProcess::freePort(), false) + "[FTP]\r\nRetryFirst=1h\r\n");
    // A picture an earlier run left waiting.
    const QString outbox = s.home.filePath(u"signatures/outbox/"_s);
    ASSERT_TRUE(QDir().mkpath(outbox));
    TestFiles::writeAll(outbox + u"1-0-a1.pcx"_s, "PCX");
    TestFiles::writeAll(outbox + u"1-0-a1.pcx.record"_s,
                        "remote=/a1.pcx\ntaken=a1.pcx\nattempts=1\nfirst=4102444800\n"
                        "next=4102444800\ngaveup=0\n"
                        "failure=\n");
    ASSERT_TRUE(s.program->start().listening());
    EXPECT_EQ(s.tray.addedTip,
              u"Varnel Payment Server - 1 signature picture(s) waiting for their upload"_s);
    s.program->finish();
}

} // namespace

TEST(TrayProgramTest, StartsIntoTheTrayOrKeepsTheWindowWhereItMustStayReachable)
{
    struct Row
    {
        bool trayAvailable;
        bool portFree;
        Shown afterStart;
        bool messageAboutPort;
        Shown afterMinimise;
    };
    const Row rows[] = {
        {true, true, Shown::InTray, false, Shown::InTray},
        // The port must be corrected: the window stays open and the icon says why.
        {true, false, Shown::Open, true, Shown::InTray},
        // No notification area: the window is never hidden where nobody can find it.
        {false, true, Shown::Open, false, Shown::OnTaskBar},
        {false, false, Shown::Open, false, Shown::OnTaskBar},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << "tray " << row.trayAvailable << " port free " << row.portFree);
        QTcpServer occupant;
        ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
        const quint16 port = row.portFree ? ServerProcess::freePort() : occupant.serverPort();
        ShellTestServer s(settings(port, true));
        s.tray.available = row.trayAvailable;
        MainWindow& window = s.program->window();
        ShowCounter counter;
        window.installEventFilter(&counter);

        const StartupReport report = s.program->start();
        const QString reason = report.listenError;
        EXPECT_EQ(report.listening(), row.portFree);
        EXPECT_EQ(counter.shows, 1); // shown first, whatever happens next
        EXPECT_EQ(windowState(window), row.afterStart);

        // Start-up in its order; the window's part comes last.
        QStringList expected{u"Application: Form load"_s};
        expected << (row.portFree ? u"Socket: Listening Port "_s + QString::number(port)
                                  : u"Socket: Listening Error port=[%1] "_s.arg(port) + reason);
        expected << u"purge_log: started"_s << u"purge_log: purgeCt=[ 0]"_s
                 << u"purge_log: finished"_s;
        if (!row.trayAvailable)
            expected << kNoTrayLine;
        const QStringList log = s.logEntries();
        EXPECT_EQ(log.mid(0, 1) + log.mid(log.indexOf(expected[1])), expected);

        EXPECT_EQ(s.tray.adds, row.trayAvailable ? 1 : 0);
        if (row.trayAvailable) {
            EXPECT_EQ(s.tray.addedTip, u"Varnel Payment Server"_s);
            EXPECT_TRUE(s.tray.addedIcon.availableSizes().contains(QSize(128, 128)));
        }
        EXPECT_EQ(s.tray.messages.filter(u"Cannot listen"_s),
                  row.messageAboutPort
                      ? QStringList{u"Varnel Payment Server: Cannot listen on port [%1]: %2"_s.arg(
                            QString::number(port), reason)}
                      : QStringList());
        // The ticked pad is open to every machine on the network, and the icon says so.
        EXPECT_EQ(s.tray.messages.filter(u"any machine on the network"_s).size(),
                  row.trayAvailable ? 1 : 0);

        // Minimising: into the tray when it is there, to the task bar when it is not.
        window.mnuPopupRestore();
        window.setWindowState(Qt::WindowMinimized);
        processEvents();
        EXPECT_EQ(windowState(window), row.afterMinimise);
        EXPECT_EQ(s.tray.adds, row.trayAvailable ? 1 : 0); // still the one icon

        // The one shut-down: pad disconnected, "Application Closed", then the icon goes.
        s.program->finish();
        s.program->finish();
        const QStringList end = s.logEntries();
        EXPECT_EQ(end.count(u"Application Closed"_s), 1);
        EXPECT_EQ(end.last(), u"Application Closed"_s);
        EXPECT_EQ(end[end.size() - 2], u"QP6100: Port Closed"_s);
        EXPECT_FALSE(s.tray.shown);
        EXPECT_FALSE(s.pad.portOpen());
    }
}

TEST(TrayProgramTest, EveryCloseRequestAsksAndTheAnswerDecides)
{
    using Answer = QuestionBox::Answer;
    enum class Request { CloseButton, PopupExit };
    struct Row
    {
        Request request;
        bool startShown;
        bool trayAvailable;
        Answer answer;
        Shown after;
        bool ends;
    };
    const Row rows[] = {
        {Request::CloseButton, true, true, Answer::Yes, Shown::InTray, true},
        {Request::CloseButton, true, true, Answer::No, Shown::InTray, false},
        {Request::CloseButton, true, true, Answer::Cancel, Shown::Open, false},
        {Request::PopupExit, false, true, Answer::Yes, Shown::InTray, true},
        {Request::PopupExit, false, true, Answer::No, Shown::InTray, false},
        {Request::PopupExit, false, true, Answer::Cancel, Shown::InTray, false},
        // Without a notification area "No" minimises to the task bar.
        {Request::CloseButton, true, false, Answer::No, Shown::OnTaskBar, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << int(row.request) << " shown " << row.startShown << " tray "
                     << row.trayAvailable << " answer " << int(row.answer));
        ShellTestServer s(settings(ServerProcess::freePort(), true));
        s.tray.available = row.trayAvailable;
        MainWindow& window = s.program->window();
        ASSERT_TRUE(s.program->start().listening());
        if (row.startShown)
            window.mnuPopupRestore();
        ASSERT_EQ(window.isVisible(), row.startShown);

        // A second close request while the box is open adds no second box.
        s.questions.answers = {row.answer};
        s.questions.onAsk = [&window] { window.close(); };
        if (row.request == Request::CloseButton)
            window.close();
        else
            window.menus().mnuPopupExit()->trigger();
        processEvents();

        ASSERT_EQ(s.questions.asked.size(), 1);
        EXPECT_EQ(s.questions.asked[0].title, kCloseTitle);
        EXPECT_EQ(s.questions.asked[0].text, kCloseText);
        EXPECT_EQ(s.questions.asked[0].owner, row.startShown ? &window : nullptr);
        EXPECT_EQ(windowState(window), row.after);
        EXPECT_EQ(s.ends, row.ends ? 1 : 0);
        EXPECT_EQ(s.tray.adds, row.trayAvailable ? 1 : 0);
        // Until the program ends nothing is shut down.
        EXPECT_FALSE(s.logEntries().contains(u"Application Closed"_s));
        EXPECT_TRUE(s.pad.portOpen());
    }

    // The real box: stop icon, Yes/No/Cancel with No as default, modal for its window (the
    // tray icon keeps answering) and in front.
    const auto box = WidgetQuestionBox::buildYesNoCancel(nullptr, kCloseTitle, kCloseText);
    EXPECT_EQ(box->windowTitle(), kCloseTitle);
    EXPECT_EQ(box->text(), kCloseText);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    EXPECT_EQ(box->defaultButton(), box->button(QMessageBox::No));
    EXPECT_EQ(box->escapeButton(), box->button(QMessageBox::Cancel));
    EXPECT_EQ(box->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
}

TEST(TrayProgramTest, TrayIconEventsFollowTheEventTable)
{
    struct Row
    {
        int code;
        Shown after;
        bool popup;
    };
    const Row rows[] = {
        {TrayIcon::kLeftButtonUp, Shown::Open, false},
        {TrayIcon::kLeftButtonDoubleClick, Shown::Open, false},
        {TrayIcon::kRightButtonUp, Shown::InTray, true},
        {512, Shown::InTray, false}, // mouse move
        {513, Shown::InTray, false}, // left button down
        {516, Shown::InTray, false}, // right button down
        {TrayIcon::kMiddleButtonUp, Shown::InTray, false},
        {0, Shown::InTray, false},
    };
    ShellTestServer s(settings(ServerProcess::freePort(), false));
    MainWindow& window = s.program->window();
    ASSERT_TRUE(s.program->start().listening());
    QMenu* popup = window.menus().mnuPopup();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        window.set_tray_icon(true);
        ASSERT_EQ(windowState(window), Shown::InTray);
        s.tray.click(row.code);
        processEvents();
        EXPECT_EQ(windowState(window), row.after);
        EXPECT_EQ(popup->isVisible(), row.popup);
        if (row.after == Shown::Open) {
            EXPECT_TRUE(QTest::qWaitForWindowActive(&window)); // in front
        }
        popup->hide();
    }
    EXPECT_EQ(s.tray.adds, 1);

    // Restore from the pop-up brings the window back like a click.
    window.set_tray_icon(true);
    window.menus().mnuPopupRestore()->trigger();
    EXPECT_EQ(windowState(window), Shown::Open);

    // The desktop's clicks as event codes.
    EXPECT_EQ(SystemTrayIcon::eventCode(QSystemTrayIcon::Trigger), TrayIcon::kLeftButtonUp);
    EXPECT_EQ(SystemTrayIcon::eventCode(QSystemTrayIcon::DoubleClick),
              TrayIcon::kLeftButtonDoubleClick);
    EXPECT_EQ(SystemTrayIcon::eventCode(QSystemTrayIcon::Context), TrayIcon::kRightButtonUp);
    EXPECT_EQ(SystemTrayIcon::eventCode(QSystemTrayIcon::MiddleClick), TrayIcon::kMiddleButtonUp);
    EXPECT_EQ(SystemTrayIcon::eventCode(QSystemTrayIcon::Unknown), 0);
    s.program->finish();
}

TEST(TrayProgramTest, ViewLogWritesItsLineThenOpensTheLog)
{
    ShellTestServer s(settings(ServerProcess::freePort(), false));
    ASSERT_TRUE(s.program->start().listening());
    const QString logPath = s.home.filePath(u"varnelpayment.log"_s);
    QStringList linesWhenOpened;
    s.launcher.onOpen = [&](const QUrl&) { linesWhenOpened = s.logEntries(); };
    QAction* viewLog = s.program->window().findChild<QAction*>(u"mnuToolsLogFileViewLog"_s);

    viewLog->trigger();
    ASSERT_EQ(s.launcher.opened, QList<QUrl>{QUrl::fromLocalFile(logPath)});
    ASSERT_FALSE(linesWhenOpened.isEmpty());
    EXPECT_EQ(linesWhenOpened.last(), u"View Log: path=[xdg-open] file=[%1] "_s.arg(logPath));

    // A viewer that cannot start is logged, and the program goes on.
    s.launcher.starts = false;
    viewLog->trigger();
    EXPECT_EQ(s.logEntries().last(), u"View Log: the viewer [xdg-open] could not be started"_s);
    s.program->finish();
    EXPECT_EQ(s.logEntries().last(), u"Application Closed"_s);
}

TEST(TrayProgramTest, AWebSocketCertificateNearItsEndIsToldAtTheIcon)
{
    QString reason;
    const std::optional<PemIdentity> ca = CertificateMaker::makeShopCa(u"Shop CA"_s, &reason);
    ASSERT_TRUE(ca) << qPrintable(reason);
    QTemporaryDir files;
    for (const int days : {10, 31}) {
        SCOPED_TRACE(days);
        const std::optional<PemIdentity> box =
            CertificateMaker::makeBoxCertificate(*ca, {u"localhost"_s}, days, &reason);
        ASSERT_TRUE(box) << qPrintable(reason);
        const QString cert = files.filePath(u"box%1.pem"_s.arg(days));
        const QString key = files.filePath(u"box%1.key"_s.arg(days));
        QFile certFile(cert);
        QFile keyFile(key);
        ASSERT_TRUE(certFile.open(QIODevice::WriteOnly) && keyFile.open(QIODevice::WriteOnly));
        certFile.write(box->certificate);
        keyFile.write(box->key);
        certFile.close();
        keyFile.close();

        ShellTestServer s(settings(ServerProcess::freePort(), false) +
                          "[WebSocket]\r\nPort=" + QByteArray::number(ServerProcess::freePort()) +
                          "\r\nCertFile=" + cert.toLocal8Bit() +
                          "\r\nKeyFile=" + key.toLocal8Bit() + "\r\n");
        ASSERT_TRUE(s.program->start().listening());
        const QString expires =
            QDateTime::currentDateTimeUtc().date().addDays(days).toString(Qt::ISODate);
        const QString line = u"WebSocket: CertFile expires=[%1] days=[%2]"_s.arg(expires).arg(days);
        EXPECT_EQ(s.logEntries().contains(line), days <= 30);
        EXPECT_EQ(s.tray.messages, days <= 30 ? QStringList{u"Varnel Payment Server: "_s + line +
                                                            u"; make a new one with varnelpayment "
                                                            "--make-certificate"_s}
                                              : QStringList());
        s.program->finish();
    }
}

TEST(TrayProgramTest, PairATillShowsACodeThatTheTillTradesForItsKey)
{
    const quint16 port = ServerProcess::freePort();
    ShellTestServer s(settings(port, false));
    ASSERT_TRUE(s.program->start().listening());
    MainWindow& window = s.program->window();

    // Cancelled: nothing is made. A name that cannot be a till's: the box says why.
    window.menus().mnuToolsPairTill()->trigger();
    s.questions.texts = {u"-Front"_s, u"  Front  "_s};
    window.menus().mnuToolsPairTill()->trigger();
    window.menus().mnuToolsPairTill()->trigger();
    ASSERT_EQ(s.questions.told.size(), 2);
    EXPECT_TRUE(s.questions.told.at(0).text.startsWith(u"No code was made: "_s))
        << qPrintable(s.questions.told.at(0).text);
    const QString shown = s.questions.told.at(1).text;
    const QString code = shown.right(8);
    EXPECT_TRUE(QRegularExpression(u"^[A-HJKMNP-Z2-9]{8}$"_s).match(code).hasMatch())
        << qPrintable(shown);
    EXPECT_TRUE(shown.contains(u"'Front'"_s)) << qPrintable(shown);

    // The till sends the code to the running server and gets its key.
    QTcpSocket till;
    till.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return till.state() == QAbstractSocket::ConnectedState; }));
    till.write("TRANS=PAIR;CODE=" + code.toLatin1() + ';');
    ASSERT_TRUE(QTest::qWaitFor([&] { return till.bytesAvailable() > 0; }));
    EXPECT_TRUE(till.readAll().startsWith("<PAIR><TILL>Front</TILL><KEY>"));
    s.program->finish();
}
