#pragma once

#include "log/textviewer.h"

class UrlLauncher;

// View Log's viewer in the tray program: the desktop's default program for text files.
class LauncherTextViewer final : public TextViewer
{
public:
    explicit LauncherTextViewer(UrlLauncher& launcher) : m_launcher(launcher) {}

    // What the desktop uses to open a file: "xdg-open" on Linux.
    QString name() const override;
    bool open(const QString& path) override;

private:
    UrlLauncher& m_launcher;
};
