#pragma once

#include <QStringList>

// `[FTP]`'s settings for pictures whose upload failed, read once at start-up.
struct OutboxSettings
{
    // The first wait before a picture is tried again, the longest wait, and how long after
    // its first try it is given up; in seconds.
    qint64 retryFirstSeconds = 10;
    qint64 retryMaxSeconds = 10 * 60;
    qint64 giveUpSeconds = 72 * 3600;
    // The most the waiting pictures may take on disk.
    qint64 capBytes = 512LL * 1024 * 1024;
    // `QueuedReply=Y`: a signature whose picture waits is answered as taken, with the upload
    // queued, instead of with the error reply.
    bool queuedReply = false;
};

// Those settings of the settings file at `settingsPath`; a value that is not one is reported
// in `complaints` (one line each, for the log) and its default used.
OutboxSettings readOutboxSettings(const QString& settingsPath, QStringList* complaints);
// A length of time as the settings write it: a whole number followed by "s", "m" or "h"
// ("10s", "10m", "72h"), in seconds; -1 when it is not one.
qint64 parseDuration(const QString& text);
