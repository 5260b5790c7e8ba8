#pragma once

#include <functional>

#include <QString>

class QuestionBox;
class TrayIcon;
class UrlLauncher;

// What the tray program needs from the desktop it runs on; tests hand in recording fakes.
struct DesktopHost
{
    QuestionBox& questionBox;
    TrayIcon& tray;
    // Opens the download page in the browser.
    UrlLauncher& launcher;
    // The running program's file, shown in the About box.
    QString programPath;
    // The folder the server keeps its files in, shown in the About box.
    QString programFolder;
    // Ends the program through its one shut-down, as SIGTERM does: waits under way unwind,
    // then the main loop returns and the shut-down runs.
    std::function<void()> endProgram;
};
