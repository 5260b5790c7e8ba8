#pragma once

#include <QMap>

#include "propertystore.h"

namespace Quillset {

// A property store in memory, for hosts that keep their windows' state themselves.
class QUILLSET_EXPORT MemoryPropertyStore final : public PropertyStore
{
public:
    Status readProperty(const QString& name, const QVariant& defaultValue,
                        QVariant& value) override;
    Status writeProperty(const QString& name, const QVariant& value,
                         const QVariant& defaultValue) override;

    // What is stored, by name.
    const QMap<QString, QVariant>& values() const { return m_values; }
    void setValue(const QString& name, const QVariant& value) { m_values.insert(name, value); }

private:
    QMap<QString, QVariant> m_values;
};

} // namespace Quillset
