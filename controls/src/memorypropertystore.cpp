#include "memorypropertystore.h"

namespace Quillset {

Status MemoryPropertyStore::readProperty(const QString& name, const QVariant& defaultValue,
                                         QVariant& value)
{
    value = m_values.value(name, defaultValue);
    return {};
}

Status MemoryPropertyStore::writeProperty(const QString& name, const QVariant& value,
                                          const QVariant& defaultValue)
{
    // A value back at its default must not leave an older value behind for the next load.
    if (value == defaultValue)
        m_values.remove(name);
    else
        m_values.insert(name, value);
    return {};
}

} // namespace Quillset
