#pragma once

#include <QDateTime>
#include <QString>

class Clock;

// The activity log "varnelpayment.log" in the program folder: one timestamped line per step.
// Every line opens, appends to and closes the file, so the file is complete after each line.
// In memory it keeps only the current second's timestamp text and whether the file's end was
// checked for a line that an earlier run left unended.
class ActivityLog
{
public:
    ActivityLog(QString logPath, const Clock& clock);

    // Appends "timestamp: entry" as one line. Card numbers in the entry are masked whatever
    // carries them, and control characters are written as visible escapes, so an entry is
    // always exactly one line. Never throws.
    void log(const QString& entry);
    const QString& log_path() const { return m_path; }
    // How many lines could not be written since the start, for the metrics.
    quint64 writeFailures() const { return m_writeFailures; }
    // 64 "-" characters, appended to the transaction start and end lines.
    static QString log_separator();

    // Drops the lines dated seven or more days before today; returns how many were dropped.
    qint64 purge_log();

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

    QString m_path;
    QByteArray m_encodedPath;
    const Clock& m_clock;
    bool m_endChecked = false;
    quint64 m_writeFailures = 0;
    qint64 m_stampSecond = 0;
    QByteArray m_stampPrefix;
};
