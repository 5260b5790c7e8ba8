#pragma once

#include <QString>

// The program's version data, as the About box shows it.
namespace ProgramVersion {

// "1.0.0": major, minor and revision.
inline QString number()
{
    return QStringLiteral("%1.%2.%3")
        .arg(VARNEL_VERSION_MAJOR)
        .arg(VARNEL_VERSION_MINOR)
        .arg(VARNEL_VERSION_PATCH);
}

inline QString legalCopyright()
{
    return QStringLiteral("Copyright (C) 2026 Varnel. All rights reserved.");
}

} // namespace ProgramVersion
