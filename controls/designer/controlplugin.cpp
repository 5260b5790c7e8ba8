#include "controlplugin.h"

#include <QPixmap>

ControlPlugin::ControlPlugin(Description description, QObject* parent)
    : QObject(parent), m_description(std::move(description))
{
}

QString ControlPlugin::group() const
{
    return QStringLiteral("Quillset");
}

QIcon ControlPlugin::icon() const
{
    return QIcon(QPixmap(m_description.toolboxPicture));
}

QString ControlPlugin::domXml() const
{
    QString objectName = m_description.className.section(QStringLiteral("::"), -1);
    objectName[0] = objectName[0].toLower();
    return QStringLiteral("<ui language=\"c++\">\n"
                          "  <widget class=\"%1\" name=\"%2\"/>\n"
                          "</ui>\n")
        .arg(m_description.className, objectName);
}
