#include "shell/mainmenus.h"

#include <QMenu>
#include <QMenuBar>

#include "app/windowcommands.h"
#include "core/livesettings.h"

namespace {

QMenu* addMenu(QWidget& parent, const char* name, const QString& caption)
{
    auto* menu = new QMenu(caption, &parent);
    menu->setObjectName(QLatin1String(name));
    menu->menuAction()->setObjectName(QLatin1String(name));
    return menu;
}

QAction* addItem(QWidget& menu, const char* name, const QString& caption)
{
    auto* item = new QAction(caption, &menu);
    item->setObjectName(QLatin1String(name));
    menu.addAction(item);
    return item;
}

} // namespace

MainMenus::MainMenus(QMenuBar& bar, LiveSettings& settings, WindowCommands& commands)
    : QObject(&bar), m_settings(settings), m_commands(commands)
{
    buildFileMenu(bar);
    buildQP6100Menu(bar);
    buildToolsMenu(bar);
    m_mnuAbout = addItem(bar, "mnuAbout", QStringLiteral("About"));
    buildPopupMenu(bar);
    connect(&m_settings, &LiveSettings::changed, this, &MainMenus::refresh);
    refresh();
}

void MainMenus::buildFileMenu(QMenuBar& bar)
{
    QMenu* file = addMenu(bar, "mnuFile", QStringLiteral("File"));
    bar.addMenu(file);
    m_mnuFileSave = addItem(*file, "mnuFileSave", QStringLiteral("Save Settings"));
    connect(m_mnuFileSave, &QAction::triggered, this, [this] { m_commands.mnuFileSave(); });
}

void MainMenus::buildQP6100Menu(QMenuBar& bar)
{
    QMenu* qp6100 = addMenu(bar, "mnuQP6100", QStringLiteral("QP6100"));
    bar.addMenu(qp6100);
    m_mnuQP6100LoadScript = addItem(*qp6100, "mnuQP6100LoadScript", QStringLiteral("Load Script"));
    connect(m_mnuQP6100LoadScript, &QAction::triggered, this,
            [this] { m_commands.mnuQP6100LoadScript_Click(); });
    m_mnuQP6100Connect = addItem(*qp6100, "mnuQP6100Connect", QStringLiteral("Connect"));
    connect(m_mnuQP6100Connect, &QAction::triggered, this,
            [this] { m_commands.mnuQP6100Connect_Click(); });
    m_mnuQP6100Disconnect = addItem(*qp6100, "mnuQP6100Disconnect", QStringLiteral("Disconnect"));
    connect(m_mnuQP6100Disconnect, &QAction::triggered, this,
            [this] { m_commands.mnuQP6100Disconnect_Click(); });
    qp6100->addSeparator()->setObjectName(QStringLiteral("mnuQP6100Sep1"));
    m_mnuQP6100PadForms = addMenu(*qp6100, "mnuQP6100PadForms", QStringLiteral("Pad Forms"));
    qp6100->addMenu(m_mnuQP6100PadForms);
    // The pad's forms are listed; choosing one does nothing.
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsWelcome", QStringLiteral("Welcome"));
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsSignature", QStringLiteral("Signature"));
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsCardSwipe", QStringLiteral("Card Swipe"));
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsWait", QStringLiteral("Wait"));
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsThanks", QStringLiteral("Thanks"));
    addItem(*m_mnuQP6100PadForms, "mnuQP6100PadFormsPinPad", QStringLiteral("Pin Pad"));
}

void MainMenus::buildToolsMenu(QMenuBar& bar)
{
    QMenu* tools = addMenu(bar, "mnuTools", QStringLiteral("Tools"));
    bar.addMenu(tools);
    QMenu* logFile = addMenu(*tools, "mnuToolsLogFile", QStringLiteral("Log File"));
    tools->addMenu(logFile);
    connect(addItem(*logFile, "mnuToolsLogFileViewLog", QStringLiteral("View Log")),
            &QAction::triggered, this, [this] { m_commands.mnuToolsLogFileViewLog(); });
    connect(addItem(*logFile, "mnuToolsLogFilePurgeLog", QStringLiteral("Purge Log")),
            &QAction::triggered, this, [this] { m_commands.mnuToolsLogFilePurgeLog(); });
    m_mnuToolsPairTill = addItem(*tools, "mnuToolsPairTill", QStringLiteral("Pair a Till…"));
}

void MainMenus::buildPopupMenu(QMenuBar& bar)
{
    // Owned by the bar's window but never added to the bar: it shows only at the tray icon.
    m_mnuPopup = addMenu(bar, "mnuPopup", QStringLiteral("Popup"));
    m_mnuPopupAbout = addItem(*m_mnuPopup, "mnuPopupAbout", QStringLiteral("About"));
    m_mnuPopupRestore = addItem(*m_mnuPopup, "mnuPopupRestore", QStringLiteral("Restore"));
    m_mnuPopup->addSeparator()->setObjectName(QStringLiteral("mnuPopupSep1"));
    m_mnuPopupExit = addItem(*m_mnuPopup, "mnuPopupExit", QStringLiteral("Exit"));
    // The default item is drawn in bold.
    m_mnuPopup->setDefaultAction(m_mnuPopupExit);
}

void MainMenus::refresh()
{
    m_mnuQP6100LoadScript->setEnabled(m_settings.mnuQP6100LoadScript());
    m_mnuQP6100Connect->setEnabled(m_settings.mnuQP6100Connect());
    m_mnuQP6100Disconnect->setEnabled(m_settings.mnuQP6100Disconnect());
    m_mnuQP6100PadForms->menuAction()->setEnabled(m_settings.mnuQP6100PadForms());
}
