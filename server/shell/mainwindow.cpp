#include "shell/mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDialog>
#include <QLayout>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>

#include "app/windowcommands.h"
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
      m_commands(commands), m_host(std::move(host)), m_form(new SettingsForm(settings, this)),
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
    connect(m_menus->mnuToolsPairTill(), &QAction::triggered, this, &MainWindow::mnuToolsPairTill);
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

void MainWindow::mnuToolsPairTill()
{
    const QString title = QStringLiteral("Pair a Till");
    QWidget* owner = isVisible() ? this : nullptr;
    const std::optional<QString> name = m_host.questionBox.askText(
        owner, title, QStringLiteral("The till's name, as the list of tills will show it:"));
    if (!name)
        return;
    const TillPairingOffer offer = m_commands.mnuToolsPairTill(name->trimmed());
    if (!offer.problem.isEmpty()) {
        m_host.questionBox.tell(owner, title,
                                QStringLiteral("No code was made: %1.").arg(offer.problem));
        return;
    }
    m_host.questionBox.tell(
        owner, title,
        QStringLiteral("Type this code into the till '%1' within ten minutes (until %2); it "
                       "works once:\n\n%3")
            .arg(name->trimmed(),
                 QLocale().toString(offer.expires.toLocalTime().time(), QLocale::ShortFormat),
                 offer.code));
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
    bringBack(*this);
    // Dialogs that are open come back in front of it: a window manager that lets the user
    // minimise a dialog takes the window along, and only the tray icon is left to reach them.
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top != this && qobject_cast<QDialog*>(top) && top->isVisible() &&
            top != QApplication::activeModalWidget())
            bringBack(*top);
    // The box that is waiting for an answer last, so that it has the focus.
    if (QWidget* modal = QApplication::activeModalWidget())
        bringBack(*modal);
}

void MainWindow::bringBack(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
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
        // With an owner it is modal: the window waits until it closes. The tray icon keeps
        // answering, so that a box minimised with its window can be brought back.
        if (owner)
            m_about->setWindowModality(Qt::WindowModal);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}
