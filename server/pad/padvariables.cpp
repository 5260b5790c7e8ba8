#include "pad/padvariables.h"

#include "core/failure.h"
#include "log/activitylog.h"
#include "pad/paddriver.h"

namespace {
// The pad's empty value, as the pad itself reports an empty variable.
const QString kNul = QString(QChar(0));
} // namespace

PadVariables::PadVariables(PadDriver& driver, ActivityLog& log) : m_driver(driver), m_log(log) {}

qint16 PadVariables::valueBytes(const QString& value, QByteArray& bytes)
{
    // The whole value counts, NUL characters included: a cut text must not pass the check.
    if (value.size() > kMaxValueLength)
        throw Failure(FailureCode::Overflow, QStringLiteral("pad variable value too long"));

    bytes.clear();
    bytes.reserve((value.size() + 1) * 2);
    // The empty text and one NUL character, the pad's own empty value, are both the empty value.
    if (value != kNul) {
        for (const QChar c : value) {
            const char16_t unit = c.unicode();
            bytes.append(char(unit & 0xff));
            bytes.append(char(unit >> 8));
        }
    }
    bytes.append(2, '\0');
    return qint16(bytes.size());
}

bool PadVariables::write(const QString& name, const QString& value)
{
    QByteArray bytes;
    const qint16 count = valueBytes(value, bytes);
    qint16 status = 0;
    m_driver.SetVariable(name, bytes, count, status);
    return status == 1;
}

void PadVariables::writeAndLog(const QString& name, const QString& value, const QString& logName)
{
    const bool ok = write(name, value);
    m_log.log(QStringLiteral("setVar: ") + logName +
              (ok ? QStringLiteral(" Successful") : QStringLiteral(" Failed")));
}

void PadVariables::setVar(const QString& value)
{
    m_log.log(QStringLiteral("setVar: TOTAL"));
    writeAndLog(PadVariable::kTotal, value, PadVariable::kTotal);
}

void PadVariables::set_fullname_var(const QString& value)
{
    writeAndLog(PadVariable::kFullname, value, PadVariable::kFullname);
}

void PadVariables::set_account_var(const QString& value)
{
    writeAndLog(PadVariable::kAccount, value, PadVariable::kAccount);
}

void PadVariables::set_track_vars()
{
    writeAndLog(PadVariable::kTrack1, kNul, PadVariable::kTrack1);
    writeAndLog(PadVariable::kTrack2, kNul, PadVariable::kTrack2);
}

void PadVariables::flush_sigcomp()
{
    writeAndLog(PadVariable::kSigcomp, kNul, QStringLiteral("SIGCOMP flush"));
}

void PadVariables::clear_padVars()
{
    m_log.log(QStringLiteral("clear_padVars: start"));
    setVar(QString());
    set_track_vars();
    flush_sigcomp();
    set_fullname_var(QString());
    set_account_var(QString());
    m_log.log(QStringLiteral("clear_padVars: end"));
}
