#pragma once

#include <memory>
#include <vector>

#include "core/failure.h"
#include "pad/ftpclient.h"

// An FTP client that records each upload and ends it the way the test says.
class FakeFtpClient final : public FtpClient
{
public:
    // Every upload asked for, in order.
    std::vector<FtpUpload> uploads;
    // How an upload ends: after this many "still executing?" answers of yes, with this outcome.
    int executingChecks = 2;
    bool succeeds = true;
    QString failureText = QStringLiteral("550 No such file or directory");
    // When set, execute() throws this failure instead of starting.
    int throwCode = 0;
    // Transfers given up while still executing.
    int abandoned = 0;

    std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload) override
    {
        uploads.push_back(upload);
        if (throwCode != 0)
            throw Failure(throwCode);
        return std::make_unique<Transfer>(*this);
    }

private:
    class Transfer final : public FtpTransfer
    {
    public:
        explicit Transfer(FakeFtpClient& client)
            : m_client(client), m_checksLeft(client.executingChecks)
        {
        }
        ~Transfer() override
        {
            if (m_checksLeft > 0)
                ++m_client.abandoned;
        }
        bool stillExecuting() const override { return m_checksLeft-- > 0; }
        bool succeeded() const override { return m_client.succeeds; }
        QString failure() const override { return m_client.failureText; }

    private:
        FakeFtpClient& m_client;
        mutable int m_checksLeft;
    };
};
