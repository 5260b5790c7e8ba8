#pragma once

#include <optional>

#include <QPoint>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>

// A desktop of its own for end-to-end tests: an Xvfb server on a free display number, the
// openbox window manager and, when asked, the trayer notification area. Everything it starts
// is stopped when it goes.
class XDesktop
{
public:
    XDesktop() = default;
    ~XDesktop();
    XDesktop(const XDesktop&) = delete;
    XDesktop& operator=(const XDesktop&) = delete;

    // Starts the X server and the window manager, and the tray host when `withTrayHost`. False
    // when one did not come up within half a minute.
    bool start(bool withTrayHost);

    // The environment for programs on this desktop: its display, Qt's X11 platform.
    QProcessEnvironment environment() const;

    // Runs an X tool on this desktop and returns what it printed (at most 10 s).
    QString run(const QString& program, const QStringList& arguments) const;
    // The ids of the top-level windows whose title matches `titlePattern` (a regular
    // expression); only those on the screen when `visibleOnly`.
    QStringList windows(const QString& titlePattern, bool visibleOnly) const;
    // Whether the window is on the screen.
    bool isViewable(const QString& windowId) const;
    // The centres of the icons that the program `windowClass` shows in the tray host.
    QList<QPoint> trayIcons(const QString& windowClass) const;
    // A click with `button` at a place on the screen.
    void click(QPoint at, int button) const;

    // Waits until `condition` holds, at most `timeoutMs`.
    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

private:
    bool startHelper(QProcess& process, const QString& program, const QStringList& arguments,
                     const std::function<bool()>& ready);
    static void stop(QProcess& process);

    QProcess m_xvfb;
    QProcess m_windowManager;
    QProcess m_trayHost;
    QString m_display;
};
