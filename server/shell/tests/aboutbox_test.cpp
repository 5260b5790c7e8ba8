// The About box: its lines worked out from the running program's file, the download button,
// and the two ways to open it (modeless from the tray, modal from the menu bar), one box at a
// time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "qtprinters.h"
#include "shell/aboutbox.h"
#include "shell/mainmenus.h"
#include "shell/mainwindow.h"
#include "shell/programversion.h"
#include "shelltestserver.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// A file standing for the program, last changed at `changed`.
QString programFile(const QString& path, const QDateTime& changed)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("program");
    // Written out first: a write after the time is set would set it again.
    EXPECT_TRUE(file.flush());
    EXPECT_TRUE(file.setFileTime(changed, QFileDevice::FileModificationTime));
    return path;
}

int aboutBoxesOpen()
{
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<AboutBox*>(w) && w->isVisible())
            ++open;
    return open;
}

} // namespace

TEST(AboutBoxTest, ShowsTheRunningProgramAndOpensTheDownloadPage)
{
    RecordingLauncher launcher;
    // Run through a link: the box shows the real file behind it.
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkpath(u"lib/varnelpayment"_s));
    const QString program = programFile(folder.filePath(u"lib/varnelpayment/varnelpayment"_s),
                                        QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28)));
    const QString link = folder.filePath(u"varnelpayment"_s);
    ASSERT_TRUE(QFile::link(program, link));

    AboutBox box(launcher, link, u"/home/jane/.local/share/varnelpayment"_s);
    const AboutBox::Controls& c = box.controls();
    EXPECT_EQ(box.windowTitle(), u"Copyright"_s);
    EXPECT_EQ(box.size(), QSize(291, 273)); // 4365 x 4095 twips
    EXPECT_FALSE(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(c.lblVersion->text(), u"Version: 1.0.0"_s);
    EXPECT_EQ(c.lblCopyright->text(), ProgramVersion::legalCopyright());
    EXPECT_TRUE(c.lblCopyright->text().startsWith(u"Copyright (C) "_s));
    // The release date as the log writes its times, not in the desktop's short format:
    // month/day/four-digit year, the seconds, AM or PM.
    EXPECT_EQ(c.lblReleaseDate->text(), u"Release Date: 12/7/2026 7:54:28 PM"_s);
    EXPECT_EQ(c.lblFilePath->toolTip(), QFileInfo(program).canonicalFilePath());
    EXPECT_EQ(c.lblProgramFolder->text(),
              u"Program folder: /home/jane/.local/share/varnelpayment"_s);
    EXPECT_EQ(c.imgVarnelPaymentServer->pixmap().size(), QSize(128, 128));
    EXPECT_EQ(box.focusWidget(), c.bthOK); // OK has the focus
    // The typed controls are the ones that carry the design's names.
    for (QWidget* control : std::initializer_list<QWidget*>{
             c.bthOK, c.imgVarnelPaymentServer, c.lblVersion, c.lblCopyright, c.lblReleaseDate,
             c.lblFilePath, c.lblProgramFolder, c.btnUpdateDownload})
        EXPECT_EQ(box.findChildren<QWidget*>(control->objectName()), QList<QWidget*>{control})
            << control->objectName().toStdString();

    box.show();
    QTest::mouseClick(c.btnUpdateDownload, Qt::LeftButton);
    ASSERT_EQ(launcher.opened.size(), 1);
    EXPECT_EQ(launcher.opened[0].path(), u"/downloads/varnel_payment_server/"_s);
    EXPECT_EQ(launcher.opened[0].scheme(), u"https"_s);
    EXPECT_TRUE(box.isVisible()); // the box stays open
    QTest::mouseClick(c.bthOK, Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());

    // A program file that is not there: no release date, the path as it was given.
    AboutBox missing(launcher, folder.filePath(u"gone"_s), folder.path());
    EXPECT_EQ(missing.controls().lblReleaseDate->text(), u"Release Date:"_s);
    EXPECT_EQ(missing.controls().lblFilePath->text(), folder.filePath(u"gone"_s));

    // A path longer than the line keeps its beginning and its file name, the middle elided;
    // the tool tip holds it whole.
    const QString deep = folder.filePath(
        u"xxxxxxxxxxxx"_s + u"/installed/by/the/store/managers/tools/bin/"_s + u"varnelpayment"_s);
    AboutBox far(launcher, deep, folder.path());
    const QLabel* path = far.controls().lblFilePath;
    ASSERT_GT(path->fontMetrics().horizontalAdvance(deep), path->width());
    EXPECT_TRUE(path->text().startsWith(deep.left(4))) << path->text().toStdString();
    EXPECT_TRUE(path->text().endsWith(u"varnelpayment"_s)) << path->text().toStdString();
    EXPECT_TRUE(path->text().contains(QChar(0x2026))) << path->text().toStdString();
    EXPECT_LE(path->fontMetrics().horizontalAdvance(path->text()), path->width());
    EXPECT_EQ(path->toolTip(), deep);
}

TEST(AboutBoxTest, TrayOpensItModelessMenuBarModalAndAnOpenOneComesToTheFront)
{
    ShellTestServer s;
    MainWindow& window = s.program->window();
    window.show();
    QAction* trayAbout = window.menus().mnuPopupAbout();
    QAction* barAbout = window.menus().mnuAbout();

    struct Path
    {
        QAction* opens;
        QAction* other;
        bool owned;
    };
    for (const Path& path : {Path{trayAbout, barAbout, false}, Path{barAbout, trayAbout, true}}) {
        SCOPED_TRACE(path.opens->objectName().toStdString());
        path.opens->trigger();
        QPointer<AboutBox> box = window.aboutBox();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->parentWidget(), path.owned ? &window : nullptr);
        EXPECT_EQ(box->isModal(), path.owned);
        // The box names the folder the running server keeps its files in.
        EXPECT_EQ(box->controls().lblProgramFolder->text(),
                  u"Program folder: "_s + QDir::toNativeSeparators(s.home.path()));
        EXPECT_EQ(QApplication::activeModalWidget(), path.owned ? box.data() : nullptr);

        // Asked for again the other way: the open box comes to the front, no second one.
        path.other->trigger();
        EXPECT_EQ(window.aboutBox(), box.data());
        EXPECT_EQ(aboutBoxesOpen(), 1);
        EXPECT_TRUE(QTest::qWaitForWindowActive(box));

        // Minimised with the window, it comes back in front with the window's Restore.
        box->showMinimized();
        window.hide();
        window.mnuPopupRestore();
        EXPECT_TRUE(window.isVisible());
        EXPECT_TRUE(box->isVisible());
        EXPECT_FALSE(box->isMinimized());

        // OK closes it; the next About opens a fresh one.
        QTest::mouseClick(box->controls().bthOK, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(box.isNull());
        EXPECT_EQ(window.aboutBox(), nullptr);
    }

    // The program's end closes a box still open from the tray.
    trayAbout->trigger();
    QPointer<AboutBox> left = window.aboutBox();
    s.program->finish();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(left.isNull());
}
