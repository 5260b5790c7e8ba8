#include "settingspropertystore.h"

#include <QSettings>

namespace Quillset {

namespace {

// Settings files write small integer types as opaque binary; plain numbers stay readable.
QVariant plainValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
    case QMetaType::Char:
        return QVariant(value.toInt());
    default:
        return value;
    }
}

} // namespace

SettingsPropertyStore::SettingsPropertyStore(QSettings& settings, QString group)
    : m_settings(settings), m_group(std::move(group))
{
}

Status SettingsPropertyStore::readProperty(const QString& name, const QVariant& defaultValue,
                                           QVariant& value)
{
    if (Status status = settingsStatus(QStringLiteral("read ") + name); !status.ok())
        return status;
    value = m_settings.value(key(name), defaultValue);
    return {};
}

Status SettingsPropertyStore::writeProperty(const QString& name, const QVariant& value,
                                            const QVariant& defaultValue)
{
    if (value == defaultValue)
        m_settings.remove(key(name));
    else
        m_settings.setValue(key(name), plainValue(value));
    return settingsStatus(QStringLiteral("write ") + name);
}

Status SettingsPropertyStore::sync()
{
    m_settings.sync();
    return settingsStatus(QStringLiteral("save the settings"));
}

Status SettingsPropertyStore::settingsStatus(const QString& action) const
{
    switch (m_settings.status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return Status::failure(StatusCode::StoreAccess,
                               QStringLiteral("Cannot %1: the settings file %2 cannot be written "
                                              "or read")
                                   .arg(action, m_settings.fileName()));
    case QSettings::FormatError:
        break;
    }
    return Status::failure(StatusCode::StoreAccess,
                           QStringLiteral("Cannot %1: the settings file %2 is malformed")
                               .arg(action, m_settings.fileName()));
}

QString SettingsPropertyStore::key(const QString& name) const
{
    return m_group.isEmpty() ? name : m_group + QLatin1Char('/') + name;
}

} // namespace Quillset
