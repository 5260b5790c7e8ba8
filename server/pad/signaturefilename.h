#pragma once

#include <QString>

// A signature file is the signatures folder, a separator, the request's UNIQU value in lower
// case and ".pcx". The value arrives unchecked from the client, so its part of the path is
// checked where the file is used.

// Whether `sigFile` names a file directly inside `signaturesFolder`: its name part (between
// the folder's separator and ".pcx") holds only printable ASCII and none of "/", "\", ":",
// "<", ">", "&" or '"', so the reply's SIGPATH names the very file written. An empty
// path, from a request without UNIQU, names no file and passes.
bool isSafeSignatureFile(const QString& sigFile, const QString& signaturesFolder);

// Throws the invalid-argument failure (5) unless `sigFile` is safe; the signature operations
// call it before they touch the file system.
void requireSafeSignatureFile(const QString& sigFile, const QString& signaturesFolder);
