#pragma once

#include <QStringList>

#include "memorypropertystore.h"

// A store in memory that fails when it reaches the property named in failAt, and records the
// names it was asked for.
class FailingPropertyStore final : public Quillset::PropertyStore
{
public:
    Quillset::Status readProperty(const QString& name, const QVariant& defaultValue,
                                  QVariant& value) override
    {
        asked << name;
        if (name == failAt)
            return failure();
        return memory.readProperty(name, defaultValue, value);
    }
    Quillset::Status writeProperty(const QString& name, const QVariant& value,
                                   const QVariant& defaultValue) override
    {
        asked << name;
        if (name == failAt)
            return failure();
        return memory.writeProperty(name, value, defaultValue);
    }

    Quillset::MemoryPropertyStore memory;
    QString failAt;
    QStringList asked;

private:
    static Quillset::Status failure()
    {
        return Quillset::Status::failure(Quillset::StatusCode::StoreAccess,
                                         QStringLiteral("store failed"));
    }
};
