#pragma once

#include <QString>

#include "propertystore.h"

class QSettings;

namespace Quillset {

// A property store over one group of a settings file, so that a host can save the controls of
// its windows with its own settings. Values are written at once to the QSettings object; the
// host decides when it is synchronised to disk.
class QUILLSET_EXPORT SettingsPropertyStore final : public PropertyStore
{
public:
    // settings must outlive the store.
    SettingsPropertyStore(QSettings& settings, QString group);

    Status readProperty(const QString& name, const QVariant& defaultValue,
                        QVariant& value) override;
    Status writeProperty(const QString& name, const QVariant& value,
                         const QVariant& defaultValue) override;

private:
    Status settingsStatus(const QString& name) const;
    QString key(const QString& name) const;

    QSettings& m_settings;
    QString m_group;
};

} // namespace Quillset
