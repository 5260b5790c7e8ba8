#pragma once

#include <optional>

#include <QString>

// What a waiting picture's upload needs, beside the picture in the outbox: never the password,
// which is read from the settings at every try. Stored as `key=value` lines.
struct OutboxRecord
{
    // The name the picture is stored under on the server.
    QString remoteName;
    // Where the picture was taken (its name is the one the operator knows).
    QString takenAs;
    int attempts = 0;
    // Seconds since 1970 UTC: the first try, the next one, and when it was given up (0: not).
    qint64 firstTry = 0;
    qint64 nextTry = 0;
    qint64 givenUp = 0;
    // Why the last try failed, for the operator.
    QString lastFailure;

    // The record at `path`; nothing when it cannot be read or is not one.
    static std::optional<OutboxRecord> read(const QString& path);
    // Writes it to `path` whole or not at all (a temporary file synced, then renamed).
    bool write(const QString& path) const;
};

// Puts the names in the folder of `path` on the disk, after a file there was made or renamed.
void syncFolderOf(const QString& path);
