#include "shell/mainwindow.h"

#include <QCloseEvent>
#include <QCursor>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

#include "shell/aboutbox.h"
#include "shell/mainmenus.h"
#include "shell/programicon.h"
#include "shell/questionbox.h"
#include "shell/settingsform.h"
#include "shell/trayicon.h"

MainWindow::MainWindow(LiveSettings& settings, WindowCommands& commands, DesktopHost host,
                       QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_host(std::move(host)), m_form(new SettingsForm(settings, this)),
      m_menus(new MainMenus(*menuBar(), settings, commands))
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Varnel Payment"));
    setWindowIcon(programIcon());
    setCentralWidget(m_form);
    // The window keeps the size of its client area and menu bar: no resizing, no maximising.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_menus->mnuAbout(), &QAction::triggered, this, &MainWindow::mnuAbout);
    connect(m_menus->mnuPopupAbout(), &QAction::triggered, this, &MainWindow::mnuPopupAbout);
    connect(m_menus->mnuPopupRestore(), &QAction::triggered, this, &MainWindow::mnuPopupRestore);
    connect(m_menus->mnuPopupExit(), &QAction::triggered, this, &MainWindow::mnuPopupExit);
    connect(&m_host.tray, &TrayIcon::mouseEvent, this, &MainWindow::Form_MouseMove);
}

MainWindow::~MainWindow()
{
    // The About box from the tray has no owner to take it along.
    delete m_about.data();
}

AboutBox* MainWindow::aboutBox() const
{
    return m_about;
}

bool MainWindow::addTrayIcon()
{
    if (!m_host.tray.isAvailable())
        return false;
    if (!m_iconAdded) {
        m_host.tray.add(windowIcon(), QLatin1String(kTrayTip));
        m_iconAdded = true;
    }
    return true;
}

void MainWindow::set_tray_icon(bool inTray)
{
    if (!inTray) {
        if (m_iconAdded)
            m_host.tray.remove();
        m_iconAdded = false;
        return;
    }
    repaint();
    if (!addTrayIcon()) {
        showMinimized();
        return;
    }
    // Hidden is the tray's state. The window is not also marked minimised: on X11 that marks
    // its next showing as minimised, and a late state report from the window manager can
    // leave the window believing it is normal, so a click on the icon would show it minimised
    // and hide it again at once.
    hide();
}

bool MainWindow::confirmClose()
{
    if (m_ending)
        return true;
    // A second close request while the box is open is answered by that box.
    if (m_asking)
        return false;
    m_asking = true;
    const QuestionBox::Answer answer = m_host.questionBox.askYesNoCancel(
        isVisible() ? this : nullptr, QStringLiteral("Varnel Payment Server"),
        QStringLiteral("Are you Sure you Want to Close Varnel Payment Server?\n"
                       "Yes to close, No to Minimize, Cancel to Return"));
    m_asking = false;
    switch (answer) {
    case QuestionBox::Answer::Yes:
        m_ending = true;
        m_host.endProgram();
        return true;
    case QuestionBox::Answer::No:
        set_tray_icon(true);
        return false;
    case QuestionBox::Answer::Cancel:
        break;
    }
    return false;
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    if (confirmClose())
        event->accept();
    else
        event->ignore();
}

void MainWindow::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    // Minimised: into the notification area, when the icon is there to bring it back.
    if (event->type() == QEvent::WindowStateChange && isMinimized() && m_iconAdded &&
        m_host.tray.isAvailable()) {
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (isMinimized())
                    hide();
            },
            Qt::QueuedConnection);
    }
}

void MainWindow::Form_MouseMove(int code)
{
    switch (code) {
    case TrayIcon::kLeftButtonUp:
    case TrayIcon::kLeftButtonDoubleClick:
        mnuPopupRestore();
        break;
    case TrayIcon::kRightButtonUp:
        m_menus->mnuPopup()->popup(QCursor::pos());
        break;
    default:
        break;
    }
}

void MainWindow::mnuPopupRestore()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void MainWindow::mnuPopupAbout()
{
    showAbout(nullptr);
}

void MainWindow::mnuAbout()
{
    showAbout(this);
}

void MainWindow::mnuPopupExit()
{
    close();
}

void MainWindow::showAbout(QWidget* owner)
{
    if (!m_about) {
        m_about = new AboutBox(m_host.launcher, m_host.programPath, m_host.programFolder, owner);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        // With an owner it is modal and keeps the whole program waiting until it closes;
        // without one it is modeless.
        if (owner)
            m_about->setWindowModality(Qt::ApplicationModal);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
