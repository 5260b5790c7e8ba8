// The two property stores keep the same rules: a missing name reads as its default, and a
// value equal to its default is not stored, nor left over from an earlier save.
#include <gtest/gtest.h>

#include <memory>

#include <QSettings>
#include <QTemporaryDir>

#include "memorypropertystore.h"
#include "settingspropertystore.h"
#include "sigcontrol.h"

using namespace Quillset;
using namespace Qt::Literals::StringLiterals;

namespace {

class PropertyStores : public ::testing::TestWithParam<bool>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        if (GetParam()) {
            m_settings =
                std::make_unique<QSettings>(m_dir.filePath(u"host.ini"_s), QSettings::IniFormat);
            m_store = std::make_unique<SettingsPropertyStore>(*m_settings, u"Form1/Sig1"_s);
        } else {
            m_store = std::make_unique<MemoryPropertyStore>();
        }
    }

    QVariant read(const QString& name, const QVariant& defaultValue)
    {
        QVariant value;
        EXPECT_TRUE(m_store->readProperty(name, defaultValue, value).ok());
        return value;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
    std::unique_ptr<PropertyStore> m_store;
};

} // namespace

TEST_P(PropertyStores, DefaultsAreNeitherStoredNorLeftBehind)
{
    EXPECT_EQ(read(u"TimeOut"_s, 10).toInt(), 10);

    ASSERT_TRUE(m_store->writeProperty(u"TimeOut"_s, 30, 10).ok());
    EXPECT_EQ(read(u"TimeOut"_s, 10).toInt(), 30);

    ASSERT_TRUE(m_store->writeProperty(u"TimeOut"_s, 10, 10).ok());
    EXPECT_EQ(read(u"TimeOut"_s, 77).toInt(), 77);
}

TEST_P(PropertyStores, SmallIntegersReadBackAsNumbers)
{
    ASSERT_TRUE(m_store
                    ->writeProperty(u"ReturnFormat"_s, QVariant::fromValue(quint8(200)),
                                    QVariant::fromValue(quint8(8)))
                    .ok());
    ASSERT_TRUE(m_store
                    ->writeProperty(u"MaxSize"_s, QVariant::fromValue(qint16(-5)),
                                    QVariant::fromValue(qint16(1024)))
                    .ok());
    EXPECT_EQ(read(u"ReturnFormat"_s, 8).toInt(), 200);
    EXPECT_EQ(read(u"MaxSize"_s, 1024).toInt(), -5);
    if (m_settings) {
        m_settings->sync();
        QFile file(m_settings->fileName());
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        EXPECT_TRUE(text.contains("ReturnFormat=200")) << text.constData();
        EXPECT_TRUE(text.contains("MaxSize=-5")) << text.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(MemoryAndSettings, PropertyStores, ::testing::Bool());

TEST(PropertyStoresOnSettingsFiles, AFileThatCannotBeWrittenFailsTheSync)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile plain(dir.filePath(u"plain"_s));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    // Not even the superuser can make a file under a regular file or in /proc.
    for (const QString& path : {plain.fileName() + u"/host.ini"_s, u"/proc/quillset-host.ini"_s}) {
        SCOPED_TRACE(path.toStdString());
        QSettings settings(path, QSettings::IniFormat);
        SettingsPropertyStore store(settings, u"Form1/Sig1"_s);
        // The settings object keeps the value; the file is not tried until the sync.
        ASSERT_TRUE(store.writeProperty(u"TimeOut"_s, 30, 10).ok());
        const Status synced = store.sync();
        EXPECT_EQ(synced.code(), StatusCode::StoreAccess);
        EXPECT_TRUE(synced.text().contains(path)) << synced.text().toStdString();
        // Once met, the error fails every later write and read too.
        EXPECT_EQ(store.writeProperty(u"MaxSize"_s, 5, 1024).code(), StatusCode::StoreAccess);
        QVariant value;
        EXPECT_EQ(store.readProperty(u"TimeOut"_s, 10, value).code(), StatusCode::StoreAccess);
        EXPECT_FALSE(QFile::exists(path));
    }
}

TEST(PropertyStoresOnSettingsFiles, AMalformedFileFailsTheLoadBeforeItChangesAnything)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(u"host.ini"_s);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Signature\nBorderStyle=0\nTimeOut=30\n");
    file.close();

    QSettings settings(path, QSettings::IniFormat);
    SettingsPropertyStore store(settings, u"Signature"_s);
    SigControl control;
    ASSERT_TRUE(control.TimeOut(99).ok());
    const Status loaded = control.readProperties(store);
    EXPECT_EQ(loaded.code(), StatusCode::StoreAccess);
    EXPECT_TRUE(loaded.text().contains(u"malformed"_s)) << loaded.text().toStdString();
    EXPECT_EQ(control.BorderStyle(), 1);
    EXPECT_EQ(control.TimeOut(), 99);
}
