#pragma once

class QUrl;

// Opens an address or a file in the desktop's program for it (the browser, the text viewer):
// the desktop's services in the program, a recording launcher in tests.
class UrlLauncher
{
public:
    virtual ~UrlLauncher() = default;
    // Starts the program without waiting for it; false when none could be started.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The desktop's own choice of program (QDesktopServices).
class DesktopUrlLauncher final : public UrlLauncher
{
public:
    bool openUrl(const QUrl& url) override;
};
