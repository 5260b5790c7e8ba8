#pragma once

#include <QSystemTrayIcon>

#include "shell/trayicon.h"

// The icon in the desktop's notification area.
class SystemTrayIcon final : public TrayIcon
{
    Q_OBJECT

public:
    explicit SystemTrayIcon(QObject* parent = nullptr);

    bool isAvailable() const override;
    void add(const QIcon& icon, const QString& tip) override;
    void remove() override;
    void showMessage(const QString& title, const QString& text) override;
    void setTip(const QString& tip) override;

    // The event code of a click on the icon: a left click, a left double click, a right
    // click (the context request) and a middle click.
    static int eventCode(QSystemTrayIcon::ActivationReason reason);

private:
    QSystemTrayIcon m_icon;
};
