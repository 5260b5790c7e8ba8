#include "app/watchedftpclient.h"

#include <QElapsedTimer>

namespace {

// The inner transfer, reported once: when it ends, or as failed when it is given up first.
class WatchedTransfer final : public FtpTransfer
{
public:
    WatchedTransfer(Telemetry& telemetry, bool retry) : m_telemetry(telemetry), m_retry(retry)
    {
        m_sinceStart.start();
    }
    ~WatchedTransfer() override
    {
        // Given up: it says nothing of the server's speed, only that no file got there.
        if (inner && !m_reported && !m_retry)
            m_telemetry.uploadFinished(false, m_retry);
    }

    void ended(const FtpOutcome& outcome)
    {
        m_reported = true;
        // A retry keeps no till waiting: only a till's own upload is an operation timed.
        if (!m_retry)
            m_telemetry.operationTook(OperationKind::Upload,
                                      double(m_sinceStart.nsecsElapsed()) / 1e9);
        m_telemetry.uploadFinished(outcome.succeeded, m_retry);
    }

    std::unique_ptr<FtpTransfer> inner;

private:
    Telemetry& m_telemetry;
    const bool m_retry;
    QElapsedTimer m_sinceStart;
    bool m_reported = false;
};

} // namespace

WatchedFtpClient::WatchedFtpClient(FtpClient& inner, Telemetry& telemetry)
    : m_inner(inner), m_telemetry(telemetry)
{
}

std::unique_ptr<FtpTransfer> WatchedFtpClient::execute(const FtpUpload& upload, Ended ended)
{
    auto watched = std::make_unique<WatchedTransfer>(m_telemetry, upload.retry);
    WatchedTransfer* watching = watched.get();
    // An upload that cannot start throws before anything is counted.
    watched->inner = m_inner.execute(upload, [watching, ended](const FtpOutcome& outcome) {
        watching->ended(outcome);
        // The owner may destroy the transfer (and this wrapper) in here: nothing follows.
        ended(outcome);
    });
    return watched;
}
