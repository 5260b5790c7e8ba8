// The real event pump: events run inside a wait, and the closing program's interrupt ends
// every wait.
#include "core/eventpump.h"

#include <gtest/gtest.h>

#include <QTimer>

#include "core/failure.h"

TEST(QtEventPump, EventsRunInsideTheWaitAndTheInterruptEndsEveryWait)
{
    QtEventPump pump;
    bool ranInside = false;
    QTimer::singleShot(0, [&] { ranInside = true; });
    pump.wait(30);
    EXPECT_TRUE(ranInside);

    // The program closes while an operation waits: the step under way ends with failure 18
    // instead of the operation running its steps out, and so do later waits and event runs.
    QTimer::singleShot(10, [&] { pump.interrupt(); });
    int stepsDone = 0;
    int code = 0;
    try {
        for (; stepsDone < 100; ++stepsDone)
            pump.wait(50);
    } catch (const Failure& failure) {
        code = failure.code();
    }
    EXPECT_EQ(code, FailureCode::Interrupted);
    EXPECT_EQ(stepsDone, 0);
    EXPECT_THROW(pump.wait(1), Failure);
    EXPECT_THROW(pump.processPending(), Failure);
}
