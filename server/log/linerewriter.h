#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <vector>

// Rewrites a log keeping the lines a rule picks: they are copied to the log path + ".new", which
// then replaces the log by a rename. The log is read as a stream, never whole, and the work is
// done in steps, so that a caller on an event loop serves other events between them. Lines
// appended meanwhile, by this process or another, are carried over whatever the rule; a log that
// is truncated, removed or replaced by another file meanwhile is left as it is.
class LineRewriter
{
public:
    // One whole line of the log as it was when the rewrite began, with its line end.
    struct Line
    {
        const char* text;
        qsizetype size;
        qint64 offset;  // where the line starts in the log
        qint64 logSize; // the log's size when the rewrite began
    };
    // Says whether a line stays. Called once for each line, in the log's order.
    using KeepRule = std::function<bool(const Line&)>;

    enum class Step {
        Working, // more to do: call step() again
        Waiting, // the next bytes are not in memory yet: call step() again a little later
        Ended,   // see outcome()
    };
    enum class Outcome {
        Rewritten,      // the log holds the kept lines and what was appended meanwhile
        NothingDropped, // the rule kept every line: the log was left as it is
        Missing,        // there was no log to rewrite
        Truncated,      // someone else shortened the log meanwhile: it stays as they left it
        Replaced,       // the log was removed or replaced by another file meanwhile
        Failed,         // a read, write or rename failed; the log stays as it was (see failure())
    };

    LineRewriter(QString logPath, KeepRule keep);
    // A rewrite that has not ended leaves no work file behind.
    ~LineRewriter();
    LineRewriter(const LineRewriter&) = delete;
    LineRewriter& operator=(const LineRewriter&) = delete;

    // Does part of the work: at least one read, then more until `budgetMs` has passed or a few
    // megabytes were read. With `mayWait` false a read that would wait for the disk ends the
    // step with Waiting instead (the disk is asked to fetch those bytes meanwhile).
    Step step(int budgetMs, bool mayWait);
    // Steps until the end, waiting for the disk as long as it takes.
    Outcome run();

    Outcome outcome() const { return m_outcome; }
    // The whole lines the rule dropped.
    qint64 droppedLines() const { return m_dropped; }
    // The size of the log the rewrite left.
    qint64 newSize() const { return m_written; }
    const QString& failure() const { return m_failure; }

private:
    enum class Phase { Start, Sort, CatchUp, Done };

    bool begin();
    // Reads the next bytes at `offset` into the buffer after its `keep` first bytes; the count
    // read, 0 at the end, -1 on a failure, -2 when the read would wait for the disk.
    qint64 readAt(qint64 offset, qsizetype keep, qsizetype limit, bool mayWait);
    // Passes the measured lines through the rule, one read's worth.
    bool sortLines(qint64 got);
    // Copies what was appended since, one read's worth; at the log's end, replaces the log.
    bool catchUp(qint64 got);
    // Renames the new file over the log, then appends what reached the old log until then.
    bool replaceLog();
    bool writeOut(const char* data, qsizetype size);
    Step end(Outcome outcome);
    Step fail(const QString& what);
    void closeFiles();

    QString m_path;
    QByteArray m_encodedPath;
    QByteArray m_encodedNewPath;
    KeepRule m_keep;
    Phase m_phase = Phase::Start;
    int m_oldFd = -1;
    int m_newFd = -1;
    bool m_noWaitReads = true; // cleared where the system cannot read without waiting
    // The old log's device and inode, to see whether the path still names it.
    quint64 m_device = 0;
    quint64 m_inode = 0;
    qint64 m_measured = 0;
    // How far the old log has been read; the part of the buffer not yet sorted starts there.
    qint64 m_read = 0;
    std::vector<char> m_buffer;
    qsizetype m_pending = 0; // bytes at the buffer's start that wait for their line end
    int m_catchUpRounds = 0;
    int m_waits = 0; // reads in a row that would have waited for the disk
    qint64 m_written = 0;
    qint64 m_writtenOut = 0;  // how much of the copy the disk was asked to write
    bool m_oldIsGone = false; // the rename replaced the old log
    qint64 m_dropped = 0;
    Outcome m_outcome = Outcome::Failed;
    QString m_failure;
};
