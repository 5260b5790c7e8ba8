// The signature control's properties: defaults, loading, saving, change notices and the points
// at which a failing service stops a member.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "failingpropertystore.h"
#include "memorypropertystore.h"
#include "recordingchangenotice.h"
#include "settingspropertystore.h"
#include "sigcontrol.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

struct Values
{
    int borderStyle;
    int timeOut;
    int maxSize;
    bool connectLines;
    quint32 backColor;
    quint32 foreColor;
    bool operator==(const Values&) const = default;
};

Values valuesOf(const SigControl& control)
{
    return {control.BorderStyle(),  control.TimeOut(),   control.MaxSize(),
            control.ConnectLines(), control.BackColor(), control.ForeColor()};
}

const Values kNewControl{1, 10, 1024, false, 0xFFFFFF, 0};

// Puts every property away from its default.
void changeAll(SigControl& control)
{
    ASSERT_TRUE(control.BorderStyle(0).ok());
    ASSERT_TRUE(control.TimeOut(30).ok());
    ASSERT_TRUE(control.MaxSize(2048).ok());
    ASSERT_TRUE(control.ConnectLines(true).ok());
    ASSERT_TRUE(control.BackColor(0x00C0FFEE).ok());
    ASSERT_TRUE(control.ForeColor(0x000000FF).ok());
}

} // namespace

TEST(SigControlProperties, NewControlHasDesignedValuesAndSavesNothing)
{
    SigControl control;
    EXPECT_EQ(valuesOf(control), kNewControl);
    ASSERT_TRUE(control.initProperties().ok());
    EXPECT_EQ(valuesOf(control), kNewControl);
    EXPECT_EQ(control.surface().backColor(), QColor(Qt::white));
    EXPECT_EQ(control.surface().inkColor(), QColor(Qt::black));

    FailingPropertyStore store;
    ASSERT_TRUE(control.writeProperties(store).ok());
    EXPECT_TRUE(store.memory.values().isEmpty());
    EXPECT_EQ(store.asked, (QStringList{u"BorderStyle"_s, u"TimeOut"_s, u"MaxSize"_s,
                                        u"ConnectLines"_s, u"ForeColor"_s, u"BackColor"_s}));
}

TEST(SigControlProperties, InitialiseAndLoadFromEmptyStoreRestoreNewControlValues)
{
    SigControl initialised;
    changeAll(initialised);
    ASSERT_TRUE(initialised.initProperties().ok());
    // The border is the surface's as designed, which the initialise notice leaves alone.
    EXPECT_EQ(valuesOf(initialised), (Values{0, 10, 1024, false, 0xFFFFFF, 0}));
    EXPECT_EQ(initialised.surface().backColor(), QColor(Qt::white));

    SigControl loaded;
    changeAll(loaded);
    FailingPropertyStore empty;
    ASSERT_TRUE(loaded.readProperties(empty).ok());
    EXPECT_EQ(valuesOf(loaded), kNewControl);
    EXPECT_EQ(empty.asked, (QStringList{u"BorderStyle"_s, u"TimeOut"_s, u"MaxSize"_s,
                                        u"ConnectLines"_s, u"ForeColor"_s, u"BackColor"_s}));
    EXPECT_EQ(loaded.surface().backColor(), QColor(Qt::white));
    EXPECT_EQ(loaded.surface().inkColor(), QColor(Qt::black));
}

TEST(SigControlProperties, SavedValuesLoadIntoAnotherControl)
{
    SigControl saved;
    changeAll(saved);
    MemoryPropertyStore store;
    ASSERT_TRUE(saved.writeProperties(store).ok());
    EXPECT_EQ(store.values().size(), 6);
    EXPECT_EQ(store.values().value(u"TimeOut"_s).value<qint16>(), 30);
    EXPECT_EQ(store.values().value(u"BackColor"_s).toLongLong(), 0x00C0FFEE);

    SigControl loaded;
    ASSERT_TRUE(loaded.readProperties(store).ok());
    EXPECT_EQ(valuesOf(loaded), valuesOf(saved));
    EXPECT_EQ(loaded.surface().backColor(), QColor(0xEE, 0xFF, 0xC0));
    EXPECT_EQ(loaded.surface().inkColor(), QColor(0xFF, 0, 0));
    EXPECT_EQ(loaded.surface().size(), loaded.size()); // no border
}

TEST(SigControlProperties, SystemColoursSaveAsNegativeNumbersAndLoadBack)
{
    SigControl saved;
    const quint32 buttonFace = 0x8000000F;
    ASSERT_TRUE(saved.BackColor(buttonFace).ok());
    MemoryPropertyStore store;
    ASSERT_TRUE(saved.writeProperties(store).ok());
    EXPECT_EQ(store.values().value(u"BackColor"_s).toLongLong(), qint32(buttonFace));

    SigControl loaded;
    ASSERT_TRUE(loaded.readProperties(store).ok());
    EXPECT_EQ(loaded.BackColor(), buttonFace);
    EXPECT_EQ(loaded.surface().backColor(), saved.surface().backColor());
}

TEST(SigControlProperties, ChangeNoticesFollowTheSavedPropertiesButNotTheColours)
{
    RecordingChangeNotice notice;
    SigControl control(nullptr, &notice);
    QStringList signalled;
    QObject::connect(&control, &SigControl::propertyChanged,
                     [&](const QString& name) { signalled << name; });

    ASSERT_TRUE(control.BackColor(0x00FF00).ok());
    ASSERT_TRUE(control.ForeColor(0x0000FF).ok());
    EXPECT_TRUE(notice.names.isEmpty());
    EXPECT_TRUE(signalled.isEmpty());

    ASSERT_TRUE(control.TimeOut(20).ok());
    EXPECT_EQ(notice.names, QStringList{u"TimeOut"_s});
    ASSERT_TRUE(control.MaxSize(10).ok());
    ASSERT_TRUE(control.ConnectLines(true).ok());
    ASSERT_TRUE(control.BorderStyle(0).ok());
    const QStringList expected{u"TimeOut"_s, u"MaxSize"_s, u"ConnectLines"_s, u"BorderStyle"_s};
    EXPECT_EQ(notice.names, expected);
    EXPECT_EQ(signalled, expected);

    // The lifecycle calls are the container's own doing and tell it nothing.
    MemoryPropertyStore store;
    ASSERT_TRUE(control.writeProperties(store).ok());
    ASSERT_TRUE(control.readProperties(store).ok());
    ASSERT_TRUE(control.initProperties().ok());
    EXPECT_EQ(notice.names, expected);
}

TEST(SigControlProperties, AFailingServiceStopsTheMemberWhereItFails)
{
    RecordingChangeNotice notice;
    notice.refuse = u"TimeOut"_s;
    SigControl control(nullptr, &notice);
    QStringList signalled;
    QObject::connect(&control, &SigControl::propertyChanged,
                     [&](const QString& name) { signalled << name; });

    // The surface refuses a value that names no colour: the field keeps its old value.
    const Status colour = control.BackColor(0x7F000000);
    EXPECT_EQ(colour.code(), StatusCode::InvalidPropertyValue);
    EXPECT_EQ(control.BackColor(), 0xFFFFFFu);
    EXPECT_EQ(control.surface().backColor(), QColor(Qt::white));
    EXPECT_EQ(control.ForeColor(0x01000005).code(), StatusCode::InvalidPropertyValue);
    EXPECT_EQ(control.ForeColor(), 0u);

    // The notice fails after the field took the new value.
    const Status timeOut = control.TimeOut(45);
    EXPECT_EQ(timeOut.code(), StatusCode::ChangeRefused);
    EXPECT_EQ(control.TimeOut(), 45);
    EXPECT_TRUE(signalled.isEmpty());

    // A border style the surface has no such thing as: refused before any notice.
    EXPECT_EQ(control.BorderStyle(2).code(), StatusCode::InvalidPropertyValue);
    EXPECT_EQ(control.BorderStyle(), 1);
    EXPECT_TRUE(notice.names.isEmpty());
}

TEST(SigControlProperties, AFailingStoreStopsLoadingAndSavingAtThatProperty)
{
    SigControl control;
    FailingPropertyStore store;
    store.memory.setValue(u"BorderStyle"_s, 0);
    store.memory.setValue(u"TimeOut"_s, 33);
    store.memory.setValue(u"MaxSize"_s, 99);
    store.memory.setValue(u"BackColor"_s, 0x123456);
    store.failAt = u"MaxSize"_s;
    EXPECT_EQ(control.readProperties(store).code(), StatusCode::StoreAccess);
    EXPECT_EQ(valuesOf(control), (Values{0, 33, 1024, false, 0xFFFFFF, 0}));

    changeAll(control);
    FailingPropertyStore saving;
    saving.failAt = u"ConnectLines"_s;
    EXPECT_EQ(control.writeProperties(saving).code(), StatusCode::StoreAccess);
    EXPECT_EQ(saving.memory.values().keys(),
              (QStringList{u"BorderStyle"_s, u"MaxSize"_s, u"TimeOut"_s}));
}

TEST(SigControlProperties, StoredValuesThatDoNotFitStopTheLoad)
{
    struct Case
    {
        const char* name;
        QVariant stored;
        int code;
    };
    const Case cases[] = {
        {"TimeOut", 40000, StatusCode::Overflow},
        {"MaxSize", QStringLiteral("lots"), StatusCode::TypeMismatch},
        {"ConnectLines", QStringLiteral("maybe"), StatusCode::TypeMismatch},
        {"BackColor", QStringLiteral("4294967296"), StatusCode::Overflow},
        {"BorderStyle", 3, StatusCode::InvalidPropertyValue},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SigControl control;
        MemoryPropertyStore store;
        store.setValue(QLatin1String(c.name), c.stored);
        EXPECT_EQ(control.readProperties(store).code(), c.code);
    }

    // Text, as a settings file gives values back, is read as the number or truth it spells.
    SigControl control;
    MemoryPropertyStore text;
    text.setValue(u"TimeOut"_s, u" 25"_s);
    text.setValue(u"ConnectLines"_s, u"True"_s);
    text.setValue(u"ForeColor"_s, u"-2147483640"_s);
    ASSERT_TRUE(control.readProperties(text).ok());
    EXPECT_EQ(control.TimeOut(), 25);
    EXPECT_TRUE(control.ConnectLines());
    EXPECT_EQ(control.ForeColor(), 0x80000008u);
}

TEST(SigControlProperties, SettingsFileKeepsAHostWindowsControls)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"host.ini"_s);
    {
        SigControl control;
        changeAll(control);
        ASSERT_TRUE(control.TimeOut(10).ok()); // back at its default: must not be stored
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue(u"Signature/TimeOut"_s, 99); // left from an earlier save
        SettingsPropertyStore store(settings, u"Signature"_s);
        ASSERT_TRUE(control.writeProperties(store).ok());
        ASSERT_TRUE(store.sync().ok());
    }
    QSettings settings(path, QSettings::IniFormat);
    EXPECT_FALSE(settings.contains(u"Signature/TimeOut"_s));
    EXPECT_EQ(settings.value(u"Signature/MaxSize"_s).toString(), u"2048"_s);
    SettingsPropertyStore store(settings, u"Signature"_s);
    SigControl loaded;
    ASSERT_TRUE(loaded.readProperties(store).ok());
    EXPECT_EQ(valuesOf(loaded), (Values{0, 10, 2048, true, 0x00C0FFEE, 0xFF}));
}

TEST(SigControlProperties, DesignerPropertiesGoThroughTheMembers)
{
    RecordingChangeNotice notice;
    SigControl control(nullptr, &notice);
    EXPECT_TRUE(control.setProperty("TimeOut", 30));
    EXPECT_EQ(control.TimeOut(), 30);
    EXPECT_EQ(control.property("MaxSize").toInt(), 1024);
    EXPECT_EQ(notice.names, QStringList{u"TimeOut"_s});

    // Values the member's type cannot hold leave the property as it was.
    control.setProperty("TimeOut", 70000);
    control.setProperty("BorderStyle", 5);
    control.setProperty("BackColor", 0xFF000000u);
    EXPECT_EQ(valuesOf(control), (Values{1, 30, 1024, false, 0xFFFFFF, 0}));
    EXPECT_EQ(notice.names, QStringList{u"TimeOut"_s});
}

namespace {

QStringList g_warnings;

void keepWarning(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings << text;
}

} // namespace

TEST(SigControlProperties, TheDesignerHearsWhyAValueWasRefused)
{
    SigControl control;
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    control.setProperty("BorderStyle", 5);
    control.setProperty("TimeOut", 70000);
    control.setProperty("MaxSize", 123);
    qInstallMessageHandler(previous);
    EXPECT_EQ(g_warnings, (QStringList{
                              u"SigControl: BorderStyle not changed: Invalid property value: "
                              u"border style 5"_s,
                              u"SigControl: TimeOut not changed: Overflow: TimeOut cannot hold "
                              u"70000"_s,
                          }));
    EXPECT_EQ(control.MaxSize(), 123);
}
