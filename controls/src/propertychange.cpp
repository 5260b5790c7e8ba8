#include "propertychange.h"

#include <limits>

namespace Quillset {

namespace {

template <typename Narrow> Status narrowed(int value, Narrow& result, const char* property)
{
    if (value < std::numeric_limits<Narrow>::min() || value > std::numeric_limits<Narrow>::max())
        return Status::failure(
            StatusCode::Overflow,
            QStringLiteral("Overflow: %1 cannot hold %2").arg(QLatin1String(property)).arg(value));
    result = Narrow(value);
    return {};
}

} // namespace

Status toInt16(int value, qint16& result, const char* property)
{
    return narrowed(value, result, property);
}

Status toUInt8(int value, quint8& result, const char* property)
{
    return narrowed(value, result, property);
}

void reportRefused(const char* control, const char* property, const Status& status)
{
    if (!status.ok())
        qWarning("%s: %s not changed: %s", control, property, qUtf8Printable(status.text()));
}

} // namespace Quillset
