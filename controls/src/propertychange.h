#pragma once

#include <type_traits>

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

// The designer's property editor sets an integer property: narrows value to what the property
// holds, runs put with it and warns when either step is refused.
template <typename Narrow, typename Put>
void setFromDesigner(const char* control, const char* property, int value, Put put)
{
    Narrow narrowed{};
    Status status;
    if constexpr (std::is_same_v<Narrow, quint8>)
        status = toUInt8(value, narrowed, property);
    else
        status = toInt16(value, narrowed, property);
    if (status.ok())
        status = put(narrowed);
    reportRefused(control, property, status);
}

} // namespace Quillset
