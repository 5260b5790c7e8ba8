#pragma once

#include <optional>

#include <QString>

// Which file a path names at a moment: device, inode, size and modification time. A file
// written again at the same path (removed and created, or rewritten) has another identity.
struct FileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0;

    // Nothing when no file is there.
    static std::optional<FileIdentity> of(const QString& path);

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};
