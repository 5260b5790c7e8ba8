#pragma once

#include <QObject>

class LiveSettings;
class QAction;
class QMenu;
class QMenuBar;
class WindowCommands;

// The settings window's menu bar and the tray's pop-up menu. The bar's items that reach the
// server run its window commands; the QP6100 menu's enabled states follow the live settings.
// The About items and the pop-up's items are the window's own (see MainWindow).
class MainMenus : public QObject
{
    Q_OBJECT

public:
    // Fills `bar`; the pop-up menu belongs to `bar` too but never shows in it.
    MainMenus(QMenuBar& bar, LiveSettings& settings, WindowCommands& commands);

    // Shows the QP6100 menu's enabled states from the live settings.
    void refresh();

    QAction* mnuFileSave() const { return m_mnuFileSave; }
    // Tools > Pair a Till: the window asks for the name and shows the code.
    QAction* mnuToolsPairTill() const { return m_mnuToolsPairTill; }
    QAction* mnuQP6100LoadScript() const { return m_mnuQP6100LoadScript; }
    QAction* mnuQP6100Connect() const { return m_mnuQP6100Connect; }
    QAction* mnuQP6100Disconnect() const { return m_mnuQP6100Disconnect; }
    QMenu* mnuQP6100PadForms() const { return m_mnuQP6100PadForms; }
    QMenu* mnuPopup() const { return m_mnuPopup; }
    QAction* mnuAbout() const { return m_mnuAbout; }
    QAction* mnuPopupAbout() const { return m_mnuPopupAbout; }
    QAction* mnuPopupRestore() const { return m_mnuPopupRestore; }
    QAction* mnuPopupExit() const { return m_mnuPopupExit; }

private:
    void buildFileMenu(QMenuBar& bar);
    void buildQP6100Menu(QMenuBar& bar);
    void buildToolsMenu(QMenuBar& bar);
    void buildPopupMenu(QMenuBar& bar);

    LiveSettings& m_settings;
    WindowCommands& m_commands;
    QAction* m_mnuFileSave = nullptr;
    QAction* m_mnuToolsPairTill = nullptr;
    QAction* m_mnuQP6100LoadScript = nullptr;
    QAction* m_mnuQP6100Connect = nullptr;
    QAction* m_mnuQP6100Disconnect = nullptr;
    QMenu* m_mnuQP6100PadForms = nullptr;
    QAction* m_mnuAbout = nullptr;
    QMenu* m_mnuPopup = nullptr;
    QAction* m_mnuPopupAbout = nullptr;
    QAction* m_mnuPopupRestore = nullptr;
    QAction* m_mnuPopupExit = nullptr;
};
