#pragma once

#include <ostream>

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

#include "fakeclock.h"
#include "log/activitylog.h"
#include "testfiles.h"

// Texts in test failures as text, not as bytes.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QByteArray& bytes, std::ostream* out)
{
    *out << '"' << bytes.toStdString() << '"';
}

// An activity log in a temporary folder, read back entry by entry.
class PinPadTestLog
{
public:
    ActivityLog& log() { return m_log; }
    QStringList entries() const { return TestFiles::logEntries(m_log.log_path()); }
    QString folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    FakeClock m_clock{QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))};
    ActivityLog m_log{m_dir.filePath(QStringLiteral("varnelpayment.log")), m_clock};
};
