// Test entry point: a core application so that Qt objects, timers and sockets work.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "serverprocess.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    // A failed end-to-end test shows what its server said and logged.
    ServerProcess::setFailureCheck([] { return ::testing::Test::HasFailure(); });
    return RUN_ALL_TESTS();
}
