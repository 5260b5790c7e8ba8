#include "app/watchedftpclient.h"

#include <QElapsedTimer>

namespace {

class WatchedTransfer final : public FtpTransfer
{
public:
    WatchedTransfer(std::unique_ptr<FtpTransfer> inner, Telemetry& telemetry)
        : m_inner(std::move(inner)), m_telemetry(telemetry)
    {
        m_sinceStart.start();
    }
    ~WatchedTransfer() override { report(); }

    bool stillExecuting() const override
    {
        const bool executing = m_inner->stillExecuting();
        if (!executing)
            report();
        return executing;
    }
    bool succeeded() const override { return m_inner->succeeded(); }
    QString failure() const override { return m_inner->failure(); }

private:
    // Once, when the upload is first seen ended, or when it is given up.
    void report() const
    {
        if (m_reported)
            return;
        m_reported = true;
        // Only an upload that ended is timed: one given up says nothing of the server.
        const bool ended = !m_inner->stillExecuting();
        if (ended)
            m_telemetry.operationTook(OperationKind::Upload,
                                      double(m_sinceStart.nsecsElapsed()) / 1e9);
        m_telemetry.uploadFinished(ended && m_inner->succeeded());
    }

    std::unique_ptr<FtpTransfer> m_inner;
    Telemetry& m_telemetry;
    QElapsedTimer m_sinceStart;
    mutable bool m_reported = false;
};

} // namespace

WatchedFtpClient::WatchedFtpClient(FtpClient& inner, Telemetry& telemetry)
    : m_inner(inner), m_telemetry(telemetry)
{
}

std::unique_ptr<FtpTransfer> WatchedFtpClient::execute(const FtpUpload& upload)
{
    // An upload that cannot start throws before anything is counted.
    return std::make_unique<WatchedTransfer>(m_inner.execute(upload), m_telemetry);
}
