#pragma once

#include <memory>

#include "core/telemetry.h"
#include "pad/ftpclient.h"

// The FTP client as the watchers see it: each signature upload's ending and its time go to the
// telemetry; the upload itself is the inner client's. An upload given up before it ended
// counts as failed.
class WatchedFtpClient final : public FtpClient
{
public:
    WatchedFtpClient(FtpClient& inner, Telemetry& telemetry);

    std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload, Ended ended) override;

private:
    FtpClient& m_inner;
    Telemetry& m_telemetry;
};
