#include "propertyvalues.h"

#include <limits>

namespace Quillset {

namespace {

Status mismatch(const QString& name, const QVariant& stored)
{
    return Status::failure(
        StatusCode::TypeMismatch,
        QStringLiteral("Type mismatch: property %1 holds %2").arg(name, stored.toString()));
}

Status integerFrom(const QString& name, const QVariant& stored, qint64 lowest, qint64 highest,
                   qint64& number)
{
    bool converted = false;
    if (stored.typeId() == QMetaType::QString || stored.typeId() == QMetaType::QByteArray)
        number = stored.toString().trimmed().toLongLong(&converted);
    else if (stored.typeId() == QMetaType::Bool)
        number = stored.toBool() ? -1 : 0, converted = true;
    else
        number = stored.toLongLong(&converted);
    if (!converted)
        return mismatch(name, stored);
    if (number < lowest || number > highest)
        return Status::failure(
            StatusCode::Overflow,
            QStringLiteral("Overflow: property %1 holds %2").arg(name).arg(number));
    return {};
}

} // namespace

Status readInt16(PropertyStore& store, const QString& name, qint16 defaultValue, qint16& value)
{
    QVariant stored;
    if (Status status = store.readProperty(name, QVariant::fromValue(defaultValue), stored);
        !status.ok())
        return status;
    qint64 number = 0;
    if (Status status = integerFrom(name, stored, std::numeric_limits<qint16>::min(),
                                    std::numeric_limits<qint16>::max(), number);
        !status.ok())
        return status;
    value = qint16(number);
    return {};
}

Status readBool(PropertyStore& store, const QString& name, bool defaultValue, bool& value)
{
    QVariant stored;
    if (Status status = store.readProperty(name, QVariant(defaultValue), stored); !status.ok())
        return status;
    if (stored.typeId() == QMetaType::Bool) {
        value = stored.toBool();
        return {};
    }
    const QString text = stored.toString().trimmed();
    if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) {
        value = true;
        return {};
    }
    if (text.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
        value = false;
        return {};
    }
    qint64 number = 0;
    if (Status status = integerFrom(name, stored, std::numeric_limits<qint32>::min(),
                                    std::numeric_limits<qint32>::max(), number);
        !status.ok())
        return status;
    value = number != 0;
    return {};
}

Status readOleColor(PropertyStore& store, const QString& name, OLE_COLOR defaultValue,
                    OLE_COLOR& value)
{
    QVariant stored;
    if (Status status = store.readProperty(name, QVariant::fromValue(qint32(defaultValue)), stored);
        !status.ok())
        return status;
    qint64 number = 0;
    if (Status status = integerFrom(name, stored, std::numeric_limits<qint32>::min(),
                                    std::numeric_limits<quint32>::max(), number);
        !status.ok())
        return status;
    value = OLE_COLOR(quint64(number) & 0xFFFFFFFFu);
    return {};
}

} // namespace Quillset
