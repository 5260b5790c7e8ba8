#pragma once

#include <QObject>
#include <QString>

class QIcon;

// The program's icon in the desktop's notification area: the real one over QSystemTrayIcon, a
// recording one in tests. Mouse events on the icon arrive as event codes.
class TrayIcon : public QObject
{
    Q_OBJECT

public:
    // The codes of the mouse events the window acts on; any other code is ignored.
    static constexpr int kLeftButtonUp = 514;
    static constexpr int kLeftButtonDoubleClick = 515;
    static constexpr int kRightButtonUp = 517;
    static constexpr int kMiddleButtonUp = 520;

    using QObject::QObject;

    // Whether the desktop has a notification area to hold the icon.
    virtual bool isAvailable() const = 0;
    // Puts the icon with its tool tip into the notification area.
    virtual void add(const QIcon& icon, const QString& tip) = 0;
    // Takes the icon away.
    virtual void remove() = 0;
    // A balloon message at the icon.
    virtual void showMessage(const QString& title, const QString& text) = 0;
    // Changes the tool tip of the icon in place.
    virtual void setTip(const QString& tip) = 0;

Q_SIGNALS:
    void mouseEvent(int code);
};
