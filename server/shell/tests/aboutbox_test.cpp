// The About box: its lines worked out from the running program's file, the download button,
// and the two ways to open it (modeless from the tray, modal from the menu bar), one box at a
// time.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "qtprinters.h"
#include "shell/aboutbox.h"
#include "shell/mainwindow.h"
#include "shell/programversion.h"
#include "shelltestserver.h"

using namespace Qt::Literals::StringLiterals;

namespace {

QString line(const AboutBox& box, const QString& name)
{
    const auto* label = box.findChild<QLabel*>(name);
    return label ? label->text() : u"(missing)"_s;
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
    const QString program = QCoreApplication::applicationFilePath();
    QTemporaryDir folder;
    const QString link = folder.filePath(u"varnelpayment"_s);
    ASSERT_TRUE(QFile::link(program, link));

    AboutBox box(launcher, link, u"/home/jane/.local/share/varnelpayment"_s);
    EXPECT_EQ(box.windowTitle(), u"Copyright"_s);
    EXPECT_EQ(box.size(), QSize(291, 273)); // 4365 x 4095 twips
    EXPECT_FALSE(box.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(line(box, u"lblVersion"_s), u"Version: 1.0.0"_s);
    EXPECT_EQ(line(box, u"lblCopyright"_s), ProgramVersion::legalCopyright());
    EXPECT_TRUE(line(box, u"lblCopyright"_s).startsWith(u"Copyright (C) "_s));
    const QFileInfo real(program);
    EXPECT_EQ(line(box, u"lblReleaseDate"_s),
              u"Release Date: "_s +
                  QLocale::system().toString(real.lastModified(), QLocale::ShortFormat));
    EXPECT_EQ(line(box, u"lblFilePath"_s), real.canonicalFilePath());
    EXPECT_EQ(line(box, u"lblProgramFolder"_s),
              u"Program folder: /home/jane/.local/share/varnelpayment"_s);
    const auto* picture = box.findChild<QLabel*>(u"imgVarnelPaymentServer"_s);
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->pixmap().size(), QSize(128, 128));
    EXPECT_EQ(box.focusWidget(), box.findChild<QPushButton*>(u"bthOK"_s)); // OK has the focus

    box.show();
    QTest::mouseClick(box.findChild<QPushButton*>(u"btnUpdateDownload"_s), Qt::LeftButton);
    ASSERT_EQ(launcher.opened.size(), 1);
    EXPECT_EQ(launcher.opened[0].path(), u"/downloads/varnel_payment_server/"_s);
    EXPECT_EQ(launcher.opened[0].scheme(), u"https"_s);
    EXPECT_TRUE(box.isVisible()); // the box stays open
    QTest::mouseClick(box.findChild<QPushButton*>(u"bthOK"_s), Qt::LeftButton);
    EXPECT_FALSE(box.isVisible());

    // A program file that is not there: no release date, the path as it was given.
    AboutBox missing(launcher, folder.filePath(u"gone"_s), folder.path());
    EXPECT_EQ(line(missing, u"lblReleaseDate"_s), u"Release Date:"_s);
    EXPECT_EQ(line(missing, u"lblFilePath"_s), folder.filePath(u"gone"_s));
}

TEST(AboutBoxTest, TrayOpensItModelessMenuBarModalAndAnOpenOneComesToTheFront)
{
    ShellTestServer s;
    MainWindow& window = s.program->window();
    window.show();
    QAction* trayAbout = window.findChild<QAction*>(u"mnuPopupAbout"_s);
    QAction* barAbout = window.findChild<QAction*>(u"mnuAbout"_s);

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
        EXPECT_EQ(box->findChild<QLabel*>(u"lblProgramFolder"_s)->text(),
                  u"Program folder: "_s + QDir::toNativeSeparators(s.home.path()));
        EXPECT_EQ(QApplication::activeModalWidget(), path.owned ? box.data() : nullptr);

        // Asked for again the other way: the open box comes to the front, no second one.
        path.other->trigger();
        EXPECT_EQ(window.aboutBox(), box.data());
        EXPECT_EQ(aboutBoxesOpen(), 1);
        EXPECT_TRUE(QTest::qWaitForWindowActive(box));

        // OK closes it; the next About opens a fresh one.
        QTest::mouseClick(box->findChild<QPushButton*>(u"bthOK"_s), Qt::LeftButton);
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
