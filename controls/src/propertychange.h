#pragma once

#include <QString>

#include "changenotice.h"
#include "status.h"

// What the controls share when one of their properties changes. For use inside the library.
namespace Quillset {

// Tells the container, when there is one, that the saved property name of control changed, then
// raises the control's propertyChanged signal. A container that refuses the change stops it
// there: its failure is returned and nothing is signalled.
template <typename Control>
Status notifyChange(Control& control, ChangeNotice* notice, const QString& name)
{
    if (notice) {
        if (Status status = notice->propertyChanged(name); !status.ok())
            return status;
    }
    Q_EMIT control.propertyChanged(name);
    return {};
}

// value as the 16-bit integer or the byte that property holds; an overflow when it does not fit.
Status toInt16(int value, qint16& result, const char* property);
Status toUInt8(int value, quint8& result, const char* property);

// Warns that the designer's property editor could not set property of control; nothing when
// status is a success.
void reportRefused(const char* control, const char* property, const Status& status);

} // namespace Quillset
