#pragma once

#include <optional>

#include <QDateTime>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "core/failure.h"
#include "fakeclock.h"
#include "log/activitylog.h"
#include "pad/filechooser.h"
#include "request/replychannel.h"

// Keeps the replies instead of sending them.
class RecordingReplies final : public ReplyChannel
{
public:
    struct Reply
    {
        QString xml;
        bool skipDebug;
    };
    std::vector<Reply> replies;

    void return_xml(QString& xml, bool skipDebug) override { replies.push_back({xml, skipDebug}); }
};

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
    QStringList entries() const
    {
        QFile file(m_log.log_path());
        QStringList result;
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (QByteArray line : file.readAll().split('\n')) {
            if (line.endsWith('\r'))
                line.chop(1);
            const qsizetype cut = line.indexOf(": ");
            if (cut >= 0)
                result.append(QString::fromLatin1(line.mid(cut + 2)));
        }
        return result;
    }
    QString text() const
    {
        QFile file(m_log.log_path());
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

private:
    QTemporaryDir m_dir;
    FakeClock m_clock;
    ActivityLog m_log;
};
