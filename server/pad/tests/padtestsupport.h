#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>

#include "core/failure.h"
#include "fakeclock.h"
#include "fakescheduler.h"
#include "log/activitylog.h"
#include "pad/filechooser.h"
#include "request/operation.h"
#include "request/replyformatter.h"
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

// Runs pad operations in virtual time and keeps how each finished, and when.
class OperationRuns
{
public:
    struct End
    {
        std::optional<Reply> reply;
        qint64 atMs = 0;
    };

    explicit OperationRuns(FakeScheduler& scheduler) : m_scheduler(scheduler) {}

    // Starts `operation`; its end is recorded in `ends`, in the order operations finish.
    void start(Operation& operation)
    {
        operation.start([this](const Outcome& outcome) {
            ends.push_back(End{replyFor(outcome), m_scheduler.elapsedMs()});
        });
    }
    // Starts it and runs virtual time until nothing is left to run.
    void run(Operation& operation)
    {
        start(operation);
        m_scheduler.runUntilIdle();
    }
    // Runs `call` at `ms` on the virtual clock: an event that arrives during a wait.
    void at(qint64 ms, std::function<void()> call)
    {
        m_events.push_back(
            m_scheduler.callAfter(int(ms - m_scheduler.elapsedMs()), std::move(call)));
    }
    // The one end so far (a test failure when there is not exactly one).
    const End& only() const
    {
        EXPECT_EQ(ends.size(), 1u);
        static const End none;
        return ends.empty() ? none : ends.front();
    }
    // The text of the one reply, or "(none)".
    QString onlyXml() const
    {
        const End& end = only();
        return end.reply ? end.reply->xml : QStringLiteral("(none)");
    }

    std::vector<End> ends;

private:
    FakeScheduler& m_scheduler;
    std::vector<std::unique_ptr<ScheduledCall>> m_events;
};

// A scheduler whose clock a test can push on without running anything: the main loop was held
// up by other work, so a step runs late.
class HeldScheduler final : public Scheduler
{
public:
    explicit HeldScheduler(FakeScheduler& inner) : m_inner(inner) {}

    qint64 heldMs = 0;

    qint64 elapsedMs() const override { return m_inner.elapsedMs() + heldMs; }
    std::unique_ptr<ScheduledCall> callAfter(int milliseconds, std::function<void()> call) override
    {
        return m_inner.callAfter(milliseconds, std::move(call));
    }

private:
    FakeScheduler& m_inner;
};
