#pragma once

#include <QString>

#include "quillsetglobal.h"
#include "status.h"

namespace Quillset {

// The container's ear for changes to a control's saved properties: told the name of each one
// that changed, so it knows its saved window is out of date. A container that cannot take the
// change (a window opened read-only, say) answers with a failure, which stops the member.
class QUILLSET_EXPORT ChangeNotice
{
public:
    virtual ~ChangeNotice() = default;
    virtual Status propertyChanged(const QString& name) = 0;
};

} // namespace Quillset
