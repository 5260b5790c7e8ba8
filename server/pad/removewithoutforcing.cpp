#include "pad/removewithoutforcing.h"

#include <QFile>

#include "core/failure.h"

void removeWithoutForcing(const QString& path)
{
    // The owner's write bit, not this process's access: the administrator may delete anything.
    if (!(QFile::permissions(path) & QFileDevice::WriteOwner))
        throw Failure(FailureCode::PermissionDenied, QStringLiteral("read-only ") + path);
    if (!QFile::remove(path))
        throw Failure(FailureCode::PathFileAccess, QStringLiteral("cannot remove ") + path);
}
