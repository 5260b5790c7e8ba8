// The designer plugin, loaded as the designer loads it, offers both controls for the toolbox.
#include <gtest/gtest.h>

#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>

#include "msrcontrol.h"
#include "sigcontrol.h"

using namespace Qt::Literals::StringLiterals;

TEST(DesignerPlugin, PutsBothControlsInTheToolboxWithTheirPictures)
{
    QPluginLoader loader(QStringLiteral(QUILLSET_DESIGNER_PLUGIN));
    QObject* instance = loader.instance();
    ASSERT_NE(instance, nullptr) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(instance);
    ASSERT_NE(collection, nullptr);

    const QList<QDesignerCustomWidgetInterface*> widgets = collection->customWidgets();
    ASSERT_EQ(widgets.size(), 2);
    EXPECT_EQ(widgets[0]->name(), u"Quillset::SigControl"_s);
    EXPECT_EQ(widgets[0]->includeFile(), u"sigcontrol.h"_s);
    EXPECT_EQ(widgets[1]->name(), u"Quillset::MSRControl"_s);
    EXPECT_EQ(widgets[1]->includeFile(), u"msrcontrol.h"_s);
    for (QDesignerCustomWidgetInterface* widget : widgets) {
        SCOPED_TRACE(widget->name().toStdString());
        EXPECT_EQ(widget->icon().availableSizes(), QList<QSize>{QSize(16, 15)});
        EXPECT_TRUE(widget->domXml().contains(u"class=\""_s + widget->name() + u'"'));
        EXPECT_FALSE(widget->isContainer());
    }

    QWidget form;
    QWidget* sig = widgets[0]->createWidget(&form);
    auto* sigControl = qobject_cast<Quillset::SigControl*>(sig);
    ASSERT_NE(sigControl, nullptr);
    EXPECT_EQ(sigControl->size(), QSize(242, 136));
    EXPECT_EQ(sigControl->property("TimeOut").toInt(), 10);
    auto* msrControl = qobject_cast<Quillset::MSRControl*>(widgets[1]->createWidget(&form));
    ASSERT_NE(msrControl, nullptr);
    EXPECT_EQ(msrControl->property("ReturnFormat").toInt(), 8);
}
