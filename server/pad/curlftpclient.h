#pragma once

#include <memory>
#include <thread>
#include <vector>

#include <QByteArray>
#include <QObject>

#include "pad/ftpclient.h"

// The FTP client over libcurl. Each upload runs on a worker thread of its own, so the server's
// one event thread never blocks on the network: it learns of the upload's end through an
// event posted to it. The worker also ends the session with the server afterwards.
class CurlFtpClient final : public FtpClient
{
public:
    CurlFtpClient();
    // Asks unfinished uploads to stop and waits for every worker.
    ~CurlFtpClient() override;
    CurlFtpClient(const CurlFtpClient&) = delete;
    CurlFtpClient& operator=(const CurlFtpClient&) = delete;

    std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload) override;

    // The address libcurl is given: the server and the remote name, every byte of the name
    // percent-encoded so that it reaches the server as the text it is.
    static QByteArray curlUrl(const FtpUpload& upload);

    // What one worker and the transfer handle share.
    struct State;

private:
    struct Worker
    {
        std::thread thread;
        std::shared_ptr<State> state;
    };
    // Joins the workers that have ended.
    void reapFinished();

    // Lives on the event thread; workers post their results to it.
    QObject m_eventTarget;
    std::vector<Worker> m_workers;
};
