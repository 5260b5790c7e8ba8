#pragma once

#include <QByteArray>
#include <QString>

class ActivityLog;
class PadDriver;

// Writes the pad's variables, one SetVariable call per variable, and logs each outcome.
// Nothing here checks whether the pad is enabled or connected, and nothing is caught: a driver
// failure or a value too long for the pad ends the sequence and goes to the caller.
class PadVariables
{
public:
    // Longest text one variable can take: its bytes and terminator must fit a 16-bit count.
    static constexpr int kMaxValueLength = 16382;

    PadVariables(PadDriver& driver, ActivityLog& log);

    // "TOTAL" = value, with a log line before the call.
    void setVar(const QString& value);
    void set_fullname_var(const QString& value);
    void set_account_var(const QString& value);
    // Empties "TRACK1" and then "TRACK2".
    void set_track_vars();
    // Empties "SIGCOMP".
    void flush_sigcomp();
    // Empties all six variables between a start and an end line.
    void clear_padVars();

    // The bytes SetVariable takes for `value`: the whole text in UTF-16LE, then two zero bytes;
    // the empty text and one NUL character are both just the two zero bytes. Returns the byte
    // count; throws the overflow failure when the text is longer than kMaxValueLength.
    static qint16 valueBytes(const QString& value, QByteArray& bytes);

private:
    // One write; returns whether the driver answered 1.
    bool write(const QString& name, const QString& value);
    void writeAndLog(const QString& name, const QString& value, const QString& logName);

    PadDriver& m_driver;
    ActivityLog& m_log;
};
