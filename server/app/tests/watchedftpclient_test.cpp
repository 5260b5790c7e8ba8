// The upload's watcher over transfers that the test ends: each upload is counted once, by how
// it ended, and timed only when it ended; its end still reaches the upload.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "app/watchedftpclient.h"

namespace {

class FakeTransfer final : public FtpTransfer
{
};

// Keeps the end of its last upload for the test to announce.
class FakeFtpClient final : public FtpClient
{
public:
    Ended ended;
    bool unreadable = false;
    std::unique_ptr<FtpTransfer> execute(const FtpUpload&, Ended end) override
    {
        if (unreadable)
            throw std::runtime_error("cannot read the file");
        ended = std::move(end);
        return std::make_unique<FakeTransfer>();
    }
};

class CountingTelemetry final : public Telemetry
{
public:
    void uploadFinished(bool ok, bool) override { ++(ok ? succeeded : failed); }
    void operationTook(OperationKind operation, double) override
    {
        if (operation == OperationKind::Upload)
            ++timed;
    }
    int succeeded = 0;
    int failed = 0;
    int timed = 0;
};

} // namespace

TEST(WatchedFtpClientTest, EachUploadIsCountedOnceByHowItEnded)
{
    struct Case
    {
        const char* what;
        bool endsBeforeDrop;
        bool ok;
        int succeeded, failed, timed;
    };
    const Case cases[] = {
        {"stored", true, true, 1, 0, 1},
        {"refused by the server", true, false, 0, 1, 1},
        {"given up while it runs", false, false, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeFtpClient inner;
        CountingTelemetry telemetry;
        WatchedFtpClient watched(inner, telemetry);
        int endsSeen = 0;
        bool okSeen = false;
        {
            std::unique_ptr<FtpTransfer> transfer =
                watched.execute(FtpUpload{}, [&](const FtpOutcome& outcome) {
                    ++endsSeen;
                    okSeen = outcome.succeeded;
                });
            EXPECT_EQ(telemetry.succeeded + telemetry.failed, 0);
            if (c.endsBeforeDrop) {
                inner.ended(FtpOutcome{c.ok, {}});
                EXPECT_EQ(endsSeen, 1);
                EXPECT_EQ(okSeen, c.ok);
            }
        }
        EXPECT_EQ(telemetry.succeeded, c.succeeded);
        EXPECT_EQ(telemetry.failed, c.failed);
        EXPECT_EQ(telemetry.timed, c.timed);
    }

    FakeFtpClient unreadable;
    unreadable.unreadable = true;
    CountingTelemetry telemetry;
    WatchedFtpClient watched(unreadable, telemetry);
    EXPECT_THROW(watched.execute(FtpUpload{}, [](const FtpOutcome&) {}), std::runtime_error);
    EXPECT_EQ(telemetry.succeeded + telemetry.failed + telemetry.timed, 0);
}
