#pragma once

#include <memory>
#include <vector>

#include <QByteArray>

#include "pad/ftpclient.h"

class UploadThread;

// The FTP client over libcurl. libcurl reads a server's final reply to a store in a call that
// blocks, so the transfers run on one thread of their own and only their outcomes come back
// to the event loop: no server, however slow or silent, holds the loop.
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
    // The name a file is stored under until the server has confirmed all of it: beside the
    // final one, in the same folder, so that the back office never sees half a picture.
    static QString partialName(const QString& remoteName);
    // The commands that rename the stored file to its final name.
    static std::vector<QByteArray> renameCommands(const FtpUpload& upload);

private:
    std::unique_ptr<UploadThread> m_thread;
};
