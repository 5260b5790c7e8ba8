// The two property stores keep the same rules: a missing name reads as its default, and a
// value equal to its default is not stored, nor left over from an earlier save.
#include <gtest/gtest.h>

#include <memory>

#include <QSettings>
#include <QTemporaryDir>

#include "memorypropertystore.h"
#include "settingspropertystore.h"

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
