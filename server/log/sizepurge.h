#pragma once

#include <QString>

// Drops the oldest lines of a log that has grown too large: its newest whole lines, at most
// `keepBytes` of them but always the last one, are copied to the log path + ".new", which then
// replaces the log by a rename. The log is read as a stream, never whole. Lines that another
// process appends meanwhile are carried over; a log that is truncated, removed or replaced by
// another file meanwhile is left as it is.
class SizePurge
{
public:
    enum class Outcome {
        Purged,    // the log holds its newest lines only
        NotNeeded, // the log held no more than keepBytes
        Truncated, // someone else shortened the log meanwhile: it stays as they left it
        Replaced,  // the log was removed or replaced by another file meanwhile
        Failed,    // a read, write or rename failed; the log stays as it was (see failure())
    };

    SizePurge(QString logPath, qint64 keepBytes);
    ~SizePurge();
    SizePurge(const SizePurge&) = delete;
    SizePurge& operator=(const SizePurge&) = delete;

    // Both steps below, one after the other.
    Outcome run();
    // First step: measures the log and copies its newest lines to the new file. False when
    // there is nothing more to do (outcome() says why).
    bool copyNewestLines();
    // Second step: copies what was appended since, then renames the new file over the log,
    // then appends what reached the old file until the rename.
    Outcome replaceLog();

    Outcome outcome() const { return m_outcome; }
    // The whole lines dropped from the start of the log.
    qint64 droppedLines() const { return m_dropped; }
    // The size of the log the purge left.
    qint64 newSize() const { return m_written; }
    const QString& failure() const { return m_failure; }

private:
    Outcome fail(const QString& what);
    // Appends the old log's bytes from m_copied to its end to the open new file.
    bool copyAppended();
    void closeFiles();

    QString m_path;
    QByteArray m_encodedPath;
    QByteArray m_encodedNewPath;
    qint64 m_keepBytes;
    int m_oldFd = -1;
    int m_newFd = -1;
    // The old log's device and inode, to see whether the path still names it.
    quint64 m_device = 0;
    quint64 m_inode = 0;
    // How far the old log has been read and copied.
    qint64 m_copied = 0;
    qint64 m_written = 0;
    qint64 m_dropped = 0;
    Outcome m_outcome = Outcome::Failed;
    QString m_failure;
};
