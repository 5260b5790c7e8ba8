// The card reader control's two saved properties.
#include <gtest/gtest.h>

#include "failingpropertystore.h"
#include "memorypropertystore.h"
#include "msrcontrol.h"
#include "recordingchangenotice.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

TEST(MSRControl, NewAndEmptyLoadedControlsHaveTheDefaultsAndSaveNothing)
{
    MSRControl control;
    EXPECT_EQ(control.ReturnFormat(), 8);
    EXPECT_EQ(control.TimeOut(), 0);
    EXPECT_EQ(control.size(), QSize(43, 36));
    FailingPropertyStore store;
    ASSERT_TRUE(control.writeProperties(store).ok());
    EXPECT_TRUE(store.memory.values().isEmpty());
    EXPECT_EQ(store.asked, (QStringList{u"ReturnFormat"_s, u"TimeOut"_s}));

    ASSERT_TRUE(control.ReturnFormat(3).ok());
    ASSERT_TRUE(control.TimeOut(12).ok());
    ASSERT_TRUE(control.readProperties(store).ok());
    EXPECT_EQ(control.ReturnFormat(), 8);
    EXPECT_EQ(control.TimeOut(), 0);

    ASSERT_TRUE(control.ReturnFormat(3).ok());
    ASSERT_TRUE(control.initProperties().ok());
    EXPECT_EQ(control.ReturnFormat(), 8);
}

TEST(MSRControl, SavesOnlyWhatDiffersFromTheDefault)
{
    MSRControl control;
    ASSERT_TRUE(control.TimeOut(30).ok());
    MemoryPropertyStore store;
    ASSERT_TRUE(control.writeProperties(store).ok());
    EXPECT_EQ(store.values().keys(), QStringList{u"TimeOut"_s});
    EXPECT_EQ(store.values().value(u"TimeOut"_s).value<qint16>(), 30);

    ASSERT_TRUE(control.ReturnFormat(255).ok());
    ASSERT_TRUE(control.writeProperties(store).ok());
    MSRControl loaded;
    ASSERT_TRUE(loaded.readProperties(store).ok());
    EXPECT_EQ(loaded.ReturnFormat(), 255);
    EXPECT_EQ(loaded.TimeOut(), 30);
}

TEST(MSRControl, ReturnFormatOutsideAByteStopsTheLoadBeforeTimeOut)
{
    for (int stored : {256, -1, 40000}) {
        SCOPED_TRACE(stored);
        MSRControl control;
        ASSERT_TRUE(control.TimeOut(7).ok());
        MemoryPropertyStore store;
        store.setValue(u"ReturnFormat"_s, stored);
        store.setValue(u"TimeOut"_s, 30);
        EXPECT_EQ(control.readProperties(store).code(), StatusCode::Overflow);
        EXPECT_EQ(control.ReturnFormat(), 8);
        EXPECT_EQ(control.TimeOut(), 7);
    }
}

TEST(MSRControl, ChangeNoticesAndTheirFailure)
{
    RecordingChangeNotice notice;
    MSRControl control(nullptr, &notice);
    QStringList signalled;
    QObject::connect(&control, &MSRControl::propertyChanged,
                     [&](const QString& name) { signalled << name; });
    ASSERT_TRUE(control.ReturnFormat(2).ok());
    ASSERT_TRUE(control.TimeOut(5).ok());
    EXPECT_EQ(notice.names, (QStringList{u"ReturnFormat"_s, u"TimeOut"_s}));
    EXPECT_EQ(signalled, notice.names);

    notice.refuse = u"TimeOut"_s;
    EXPECT_EQ(control.TimeOut(9).code(), StatusCode::ChangeRefused);
    EXPECT_EQ(control.TimeOut(), 9);
    EXPECT_EQ(signalled.size(), 2);

    FailingPropertyStore store;
    store.failAt = u"ReturnFormat"_s;
    store.memory.setValue(u"TimeOut"_s, 44);
    EXPECT_EQ(control.readProperties(store).code(), StatusCode::StoreAccess);
    EXPECT_EQ(control.TimeOut(), 9);

    // The designer's editor cannot put a value the field does not hold.
    control.setProperty("ReturnFormat", 256);
    EXPECT_EQ(control.ReturnFormat(), 2);
    control.setProperty("ReturnFormat", 200);
    EXPECT_EQ(control.ReturnFormat(), 200);
}
