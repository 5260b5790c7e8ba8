#pragma once

#include <QMainWindow>
#include <QPointer>

#include "shell/desktophost.h"

class AboutBox;
class LiveSettings;
class MainMenus;
class SettingsForm;
class WindowCommands;

// The settings window "Varnel Payment": the settings form, the menus, and the window's life
// between shown and the notification area. Every close request asks Yes/No/Cancel first.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr const char* kTrayTip = "Varnel Payment Server";

    MainWindow(LiveSettings& settings, WindowCommands& commands, DesktopHost host,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // With true: the icon goes into the notification area (once for the whole run) and the
    // window is hidden there; on a desktop without a notification area the window is
    // minimised to the task bar instead, so it stays reachable. With false: the icon, if
    // added, is taken away.
    void set_tray_icon(bool inTray);
    // Adds the icon without hiding the window; false when there is no notification area.
    bool addTrayIcon();

    // The close box: true when the answer was Yes and the program is ending.
    bool confirmClose();

    // A mouse event on the tray icon.
    void Form_MouseMove(int code);
    // Shows the window, and every dialog of the program that is open in front of it.
    void mnuPopupRestore();
    // The About box, modeless and without owner.
    void mnuPopupAbout();
    // The About box, modal to this window and owned by it.
    void mnuAbout();
    // Asks to close, as the window's close button does.
    void mnuPopupExit();
    // Asks for a till's name and shows the code that lets it pair itself, or why there is none.
    void mnuToolsPairTill();

    SettingsForm& form() const { return *m_form; }
    MainMenus& menus() const { return *m_menus; }
    // The About box now open, if any.
    AboutBox* aboutBox() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // Shows the About box, or brings the one already open to the front.
    void showAbout(QWidget* owner);
    // Shows a window, not minimised, in front and active.
    static void bringBack(QWidget& window);

    WindowCommands& m_commands;
    DesktopHost m_host;
    SettingsForm* m_form;
    MainMenus* m_menus;
    QPointer<AboutBox> m_about;
    bool m_iconAdded = false;
    bool m_asking = false;
    bool m_ending = false;
};
