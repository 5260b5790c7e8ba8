#pragma once

#include <optional>

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

#include "core/failure.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "pad/filechooser.h"
#include "testfiles.h"

// A file chooser that answers a fixed path, a cancel, or cannot be shown.
class FixedFileChooser final : public FileChooser
{
public:
    std::optional<QString> answer;
    bool fails = false;
    QStringList asked;

    std::optional<QString> chooseFile(const QString& title, const QString& filterLabel,
                                      const QString& filterPattern) override
    {
        asked = {title, filterLabel, filterPattern};
        if (fails)
            throw Failure(32755);
        return answer;
    }
};

// An activity log in a temporary folder, read back entry by entry.
class TestLog
{
public:
    TestLog()
        : m_clock(QDateTime(QDate(2026, 12, 7), QTime(19, 54, 28))),
          m_log(m_dir.filePath(QStringLiteral("varnelpayment.log")), m_clock)
    {
    }

    ActivityLog& log() { return m_log; }

    // The entries written so far, without their timestamps.
    QStringList entries() const { return TestFiles::logEntries(m_log.log_path()); }
    // The whole log file.
    QString text() const { return QString::fromLatin1(TestFiles::readAll(m_log.log_path())); }

private:
    QTemporaryDir m_dir;
    FakeClock m_clock;
    ActivityLog m_log;
};
