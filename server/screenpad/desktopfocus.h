#pragma once

#include <QtGlobal>

class QWidget;

// The desktop's active window, whichever program it belongs to, as the window manager of an
// X11 desktop keeps it in _NET_ACTIVE_WINDOW; read before the pad takes the keyboard and
// activated again when it gives the keyboard back. On other platforms (off-screen, Wayland)
// there is no such window: the calls do nothing.
class DesktopFocus
{
public:
    // The active window of the desktop that `near` is on; 0 when none or not known.
    static quint32 activeWindow(QWidget& near);
    // Asks the window manager to activate `window` again as a pager would, which it does
    // whoever has the focus now; false when it cannot be asked.
    static bool activate(QWidget& near, quint32 window);
};
