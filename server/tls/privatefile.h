#pragma once

#include <QByteArray>
#include <QString>

// Writes `bytes` to `path` with mode 0600 from the first byte on (a key is never readable by
// others, not even for a moment), through a file beside it renamed over it. False, with the
// reason, when it cannot.
bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* reason);
