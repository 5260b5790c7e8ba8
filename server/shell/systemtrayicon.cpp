#include "shell/systemtrayicon.h"

SystemTrayIcon::SystemTrayIcon(QObject* parent) : TrayIcon(parent)
{
    connect(
        &m_icon, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { Q_EMIT mouseEvent(eventCode(reason)); });
}

bool SystemTrayIcon::isAvailable() const
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SystemTrayIcon::add(const QIcon& icon, const QString& tip)
{
    m_icon.setIcon(icon);
    m_icon.setToolTip(tip);
    m_icon.show();
}

void SystemTrayIcon::setTip(const QString& tip)
{
    m_icon.setToolTip(tip);
}

void SystemTrayIcon::remove()
{
    m_icon.hide();
}

void SystemTrayIcon::showMessage(const QString& title, const QString& text)
{
    m_icon.showMessage(title, text, QSystemTrayIcon::Warning);
}

int SystemTrayIcon::eventCode(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return kLeftButtonUp;
    case QSystemTrayIcon::DoubleClick:
        return kLeftButtonDoubleClick;
    case QSystemTrayIcon::Context:
        return kRightButtonUp;
    case QSystemTrayIcon::MiddleClick:
        return kMiddleButtonUp;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}
