#pragma once

#include <set>

#include <QByteArray>

#include "pad/ftpclient.h"

class CurlFtpTransfer;

// The FTP client over libcurl's multi interface, driven by the main event loop: socket
// notifiers wake it when a connection is ready and a timer when libcurl asks for one. Nothing
// blocks and no other thread runs.
class CurlFtpClient final : public FtpClient
{
public:
    CurlFtpClient();
    // Drops the connections of transfers still under way; they end without announcing it.
    ~CurlFtpClient() override;
    CurlFtpClient(const CurlFtpClient&) = delete;
    CurlFtpClient& operator=(const CurlFtpClient&) = delete;

    std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload, Ended ended) override;

    // The address libcurl is given: the server and the remote name, every byte of the name
    // percent-encoded so that it reaches the server as the text it is.
    static QByteArray curlUrl(const FtpUpload& upload);

private:
    friend class CurlFtpTransfer;

    // The transfers alive, so that the client can stop them before libcurl is released.
    std::set<CurlFtpTransfer*> m_transfers;
};
