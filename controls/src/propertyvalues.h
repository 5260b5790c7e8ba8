#pragma once

#include <QString>

#include "olecolor.h"
#include "propertystore.h"
#include "quillsetglobal.h"
#include "status.h"

// Typed reads from a property store. A stored value that does not fit the type fails the read
// and leaves value untouched; stored text (as a settings file gives it back) is converted.
namespace Quillset {

QUILLSET_EXPORT Status readInt16(PropertyStore& store, const QString& name, qint16 defaultValue,
                                 qint16& value);
QUILLSET_EXPORT Status readBool(PropertyStore& store, const QString& name, bool defaultValue,
                                bool& value);
// A 32-bit integer, signed or not, taken as the bits of a colour.
QUILLSET_EXPORT Status readOleColor(PropertyStore& store, const QString& name,
                                    OLE_COLOR defaultValue, OLE_COLOR& value);

} // namespace Quillset
