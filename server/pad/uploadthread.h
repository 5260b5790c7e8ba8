#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <QObject>

#include "pad/curlupload.h"

// The one thread that runs uploads, one after another, because libcurl reads an FTP server's
// final reply in a call that blocks. Only outcomes cross back to the event loop, as queued
// calls on the thread that made this object.
class UploadThread
{
public:
    // Runs on the event loop's thread once the upload has ended, unless it was abandoned.
    using Ended = std::function<void(const FtpOutcome&)>;

    UploadThread();
    // Abandons what runs and what waits, announcing nothing, and waits for the thread.
    ~UploadThread();
    UploadThread(const UploadThread&) = delete;
    UploadThread& operator=(const UploadThread&) = delete;

    // Queues the upload; `ended` is called from the event loop, never from inside run().
    void run(std::shared_ptr<CurlUpload> upload, Ended ended);

private:
    struct Queued
    {
        std::shared_ptr<CurlUpload> upload;
        Ended ended;
    };

    void work();

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Queued> m_waiting;
    std::shared_ptr<CurlUpload> m_running;
    bool m_stopping = false;
    // Lives on the event loop's thread: the outcomes are delivered through it, and calls
    // still queued when it goes are dropped with it.
    QObject m_receiver;
    std::thread m_thread;
};
