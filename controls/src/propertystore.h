#pragma once

#include <QString>
#include <QVariant>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

// Where a control keeps its saved properties, handed to it when it is loaded or saved. A name
// that is not stored reads as its default; a value equal to its default is not stored.
class QUILLSET_EXPORT PropertyStore
{
public:
    virtual ~PropertyStore() = default;

    // The stored value of name, or defaultValue when none is stored.
    virtual Status readProperty(const QString& name, const QVariant& defaultValue,
                                QVariant& value) = 0;
    // Stores value under name, or removes name when value equals defaultValue.
    virtual Status writeProperty(const QString& name, const QVariant& value,
                                 const QVariant& defaultValue) = 0;
};

} // namespace Quillset
