#pragma once

#include <QDateTime>
#include <QString>

#include <memory>

#include "log/loglimits.h"

class Clock;
class LineRewriter;
class ScheduledCall;
class Scheduler;

// The activity log "varnelpayment.log" in the program folder: one timestamped line per step.
// Every line opens, appends to and closes the file, so the file is complete after each line.
// In memory it keeps only the current second's timestamp text, whether the file's end was
// checked for a line that an earlier run left unended, and the file's size as it writes, so
// that a write that takes the log past its cap drops the oldest lines without a look at the
// file for every line.
//
// Both purges rewrite the file. Given a scheduler, a purge goes on in steps of a few
// milliseconds that the event loop makes between its other work, and lines logged meanwhile are
// carried over; without one (tools, tests), a purge runs to its end within the call.
class ActivityLog
{
public:
    ActivityLog(QString logPath, const Clock& clock, LogLimits limits = {},
                Scheduler* steps = nullptr);
    ~ActivityLog();
    ActivityLog(const ActivityLog&) = delete;
    ActivityLog& operator=(const ActivityLog&) = delete;

    // Appends "timestamp: entry" as one line. Card numbers in the entry are masked whatever
    // carries them, and control characters are written as visible escapes, so an entry is
    // always exactly one line. Never throws.
    void log(const QString& entry);
    const QString& log_path() const { return m_path; }
    // How many lines could not be written since the start, for the metrics.
    quint64 writeFailures() const { return m_writeFailures; }
    // 64 "-" characters, appended to the transaction start and end lines.
    static QString log_separator();

    // Drops the lines dated seven or more days before today, between "purge_log: started" and
    // "purge_log: purgeCt=[N]", "purge_log: finished". A purge asked for while one of its own
    // is under way is not started again; one asked for during a size purge follows it.
    void purge_log();
    // Whether a purge is under way.
    bool purging() const { return m_rewrite != nullptr; }
    // Runs the purges under way, and one waiting, to their end now: at shut-down.
    void finishPurges();
    const LogLimits& limits() const { return m_limits; }

    // "12/7/2026 7:54:28 PM": month/day/year, 12-hour clock, on every platform.
    static QString timestamp(const QDateTime& when);
    // Reads back the date of a line written with timestamp(); invalid when it is not one.
    static QDate lineDate(const QByteArray& line);
    // The entry with CR, LF, tab, the other codes below 32 and DEL written as \r, \n, \t and
    // \xNN, and a backslash as \\, so the escapes can be read back unambiguously.
    static QString escapeEntry(const QString& entry);

private:
    // "timestamp: " as single-byte text for the clock's current second.
    const QByteArray& stampPrefix();
    // Called when the tracked size passed the cap: measures the file again and, when it is
    // over the cap, drops its oldest lines down to half the cap and says so in a line.
    void purgeToSizeLimit();
    // The tracked size above which a size purge starts.
    qint64 purgeThreshold() const;
    enum class Purge { Age, Size };
    void startAgePurge();
    void startRewrite(Purge purge, std::unique_ptr<LineRewriter> rewrite);
    // One step of the rewrite under way, and the next one asked for, or its end.
    void stepRewrite();
    void rewriteEnded();

    QString m_path;
    QByteArray m_encodedPath;
    const Clock& m_clock;
    LogLimits m_limits;
    // Checked with the file's end, so also after a failed write and after a purge.
    bool m_endChecked = false;
    // The file's size as last measured plus what was written since.
    qint64 m_size = 0;
    // The tracked size above which purgeToSizeLimit() runs: the cap, or more after a size
    // purge that could not drop anything, so that it is not tried again for every line.
    qint64 m_purgeAbove = 0;
    Scheduler* m_steps;
    std::unique_ptr<LineRewriter> m_rewrite;
    std::unique_ptr<ScheduledCall> m_nextStep;
    Purge m_rewriteFor = Purge::Age;
    bool m_agePurgeWaiting = false;
    quint64 m_writeFailures = 0;
    qint64 m_stampSecond = 0;
    QByteArray m_stampPrefix;
};
