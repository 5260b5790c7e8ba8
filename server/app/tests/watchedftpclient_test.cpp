// The upload's watcher over transfers that the test ends: each upload is counted once, by how
// it ended, and timed only when it ended.
#include <gtest/gtest.h>

#include <stdexcept>

#include "app/watchedftpclient.h"

namespace {

struct TransferState
{
    bool executing = true;
    bool ok = false;
};

class FakeTransfer final : public FtpTransfer
{
public:
    explicit FakeTransfer(TransferState& state) : m_state(state) {}
    bool stillExecuting() const override { return m_state.executing; }
    bool succeeded() const override { return m_state.ok; }
    QString failure() const override { return m_state.ok ? QString() : QStringLiteral("refused"); }

private:
    TransferState& m_state;
};

class FakeFtpClient final : public FtpClient
{
public:
    TransferState state;
    bool unreadable = false;
    std::unique_ptr<FtpTransfer> execute(const FtpUpload&) override
    {
        if (unreadable)
            throw std::runtime_error("cannot read the file");
        return std::make_unique<FakeTransfer>(state);
    }
};

class CountingTelemetry final : public Telemetry
{
public:
    void uploadFinished(bool ok) override { ++(ok ? succeeded : failed); }
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
        int polls;
        int succeeded, failed, timed;
    };
    const Case cases[] = {
        {"stored", true, true, 3, 1, 0, 1},
        {"refused by the server", true, false, 1, 0, 1, 1},
        {"ended, never polled after", true, true, 0, 1, 0, 1},
        {"given up while it runs", false, false, 2, 0, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeFtpClient inner;
        CountingTelemetry telemetry;
        WatchedFtpClient watched(inner, telemetry);
        {
            std::unique_ptr<FtpTransfer> transfer = watched.execute(FtpUpload{});
            EXPECT_TRUE(transfer->stillExecuting());
            EXPECT_EQ(telemetry.succeeded + telemetry.failed, 0);
            if (c.endsBeforeDrop) {
                inner.state = {false, c.ok};
                for (int i = 0; i < c.polls; ++i)
                    EXPECT_FALSE(transfer->stillExecuting());
                EXPECT_EQ(transfer->succeeded(), c.ok);
            } else {
                for (int i = 0; i < c.polls; ++i)
                    EXPECT_TRUE(transfer->stillExecuting());
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
    EXPECT_THROW(watched.execute(FtpUpload{}), std::runtime_error);
    EXPECT_EQ(telemetry.succeeded + telemetry.failed + telemetry.timed, 0);
}
