#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QList>
#include <QString>

// Writes `bytes` to `path` with mode 0600 from the first byte on (a key is never readable by
// others, not even for a moment), through a file beside it renamed over it. False, with the
// reason, when it cannot.
bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* reason);

// One line of a file of tab-separated fields: its number from 1, and its fields.
struct TabSeparatedLine
{
    int number;
    QList<QByteArray> fields;
};
// The lines of the file at `path` that are neither empty nor comments (from '#'); none when
// there is no file. Nothing, with the reason, when it cannot be read.
std::optional<std::vector<TabSeparatedLine>> readTabSeparatedLines(const QString& path,
                                                                   QString* reason);
