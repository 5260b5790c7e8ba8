#pragma once

#include <memory>
#include <vector>

#include "core/failure.h"
#include "core/scheduler.h"
#include "pad/ftpclient.h"

// An FTP client that records each upload and ends it, on the scheduler's time, the way the
// test says.
class FakeFtpClient final : public FtpClient
{
public:
    explicit FakeFtpClient(Scheduler& scheduler) : m_scheduler(scheduler) {}

    // Every upload asked for, in order.
    std::vector<FtpUpload> uploads;
    // How an upload ends: this long after it started, with this outcome.
    int transferMs = 1200;
    bool succeeds = true;
    QString failureText = QStringLiteral("550 No such file or directory");
    // When set, execute() throws this failure instead of starting.
    int throwCode = 0;
    // Transfers given up before their end.
    int abandoned = 0;

    std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload, Ended ended) override
    {
        uploads.push_back(upload);
        if (throwCode != 0)
            throw Failure(throwCode);
        return std::make_unique<Transfer>(*this, std::move(ended));
    }

private:
    class Transfer final : public FtpTransfer
    {
    public:
        Transfer(FakeFtpClient& client, Ended ended) : m_client(client)
        {
            m_end =
                client.m_scheduler.callAfter(client.transferMs, [this, ended = std::move(ended)] {
                    m_ended = true;
                    // The owner may destroy this transfer inside: nothing here runs after.
                    const Ended call = ended;
                    call(FtpOutcome{m_client.succeeds,
                                    m_client.succeeds ? QString() : m_client.failureText});
                });
        }
        ~Transfer() override
        {
            if (!m_ended)
                ++m_client.abandoned;
        }

    private:
        FakeFtpClient& m_client;
        bool m_ended = false;
        std::unique_ptr<ScheduledCall> m_end;
    };

    Scheduler& m_scheduler;
};
