#pragma once

#include <functional>

#include <QIcon>
#include <QObject>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

// One control in the designer's toolbox: its class, header, toolbox picture and a factory that
// places it as a new control.
class ControlPlugin : public QObject, public QDesignerCustomWidgetInterface
{
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    struct Description
    {
        QString className;
        QString includeFile;
        QString toolTip;
        QString toolboxPicture;
        std::function<QWidget*(QWidget*)> create;
    };

    ControlPlugin(Description description, QObject* parent);

    QString name() const override { return m_description.className; }
    QString group() const override;
    QString toolTip() const override { return m_description.toolTip; }
    QString whatsThis() const override { return m_description.toolTip; }
    QString includeFile() const override { return m_description.includeFile; }
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override { return m_description.create(parent); }
    QString domXml() const override;

private:
    Description m_description;
};
