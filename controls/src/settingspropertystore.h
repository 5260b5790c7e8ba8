#pragma once

#include <QString>

#include "propertystore.h"

class QSettings;

namespace Quillset {

// A property store over one group of a settings file, so that a host can save the controls of
// its windows with its own settings. Values go to the QSettings object at once and reach the file
// when it is synchronised. QSettings finds out that the file cannot be written only then: a write
// fails only for an error already met, so a host that saves calls sync() after the last write and
// checks what it returns. A malformed or unreadable file fails every read.
class QUILLSET_EXPORT SettingsPropertyStore final : public PropertyStore
{
public:
    // settings must outlive the store.
    SettingsPropertyStore(QSettings& settings, QString group);

    Status readProperty(const QString& name, const QVariant& defaultValue,
                        QVariant& value) override;
    Status writeProperty(const QString& name, const QVariant& value,
                         const QVariant& defaultValue) override;

    // Writes the settings file now, with every group of the QSettings object, not only this
    // store's; fails when the file could not be written.
    Status sync();

private:
    // The settings object's first error, if it has met one, as the failure of action.
    Status settingsStatus(const QString& action) const;
    QString key(const QString& name) const;

    QSettings& m_settings;
    QString m_group;
};

} // namespace Quillset
