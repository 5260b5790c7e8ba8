// The real scheduler on the main event loop: calls run later, never inside callAfter, in the
// order they fall due, and a handle gone first cancels its call.
#include "core/scheduler.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QStringList>

namespace {

void runEventsFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
}

} // namespace

TEST(QtScheduler, CallsRunLaterInTheirOrderAndACancelledOneNever)
{
    QtScheduler scheduler;
    QStringList ran;
    std::vector<std::unique_ptr<ScheduledCall>> handles;
    handles.push_back(scheduler.callAfter(30, [&] { ran << QStringLiteral("late"); }));
    handles.push_back(scheduler.callAfter(0, [&] { ran << QStringLiteral("soon"); }));
    handles.push_back(scheduler.callAfter(10, [&] { ran << QStringLiteral("cancelled"); }));
    EXPECT_TRUE(ran.isEmpty()) << "nothing runs inside callAfter";
    handles[2].reset();
    const qint64 before = scheduler.elapsedMs();
    runEventsFor(100);
    EXPECT_EQ(ran, (QStringList{QStringLiteral("soon"), QStringLiteral("late")}));
    EXPECT_GE(scheduler.elapsedMs() - before, 100);
}

TEST(QtScheduler, ACallMayDropItsOwnHandleAndScheduleTheNextStep)
{
    QtScheduler scheduler;
    std::unique_ptr<ScheduledCall> step;
    int steps = 0;
    std::function<void()> next = [&] {
        ++steps;
        // A step that replaces its own handle, as every waiting operation does.
        step = steps < 3 ? scheduler.callAfter(1, next) : nullptr;
    };
    step = scheduler.callAfter(1, next);
    runEventsFor(100);
    EXPECT_EQ(steps, 3);
    EXPECT_EQ(step, nullptr);
}
