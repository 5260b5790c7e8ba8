#include "pad/uploadthread.h"

#include <QMetaObject>

UploadThread::UploadThread() : m_thread([this] { work(); }) {}

UploadThread::~UploadThread()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_waiting.clear();
        if (m_running)
            m_running->abandon();
    }
    m_wake.notify_one();
    m_thread.join();
}

void UploadThread::run(std::shared_ptr<CurlUpload> upload, Ended ended)
{
    {
        const std::lock_guard lock(m_mutex);
        m_waiting.push_back(Queued{std::move(upload), std::move(ended)});
    }
    m_wake.notify_one();
}

void UploadThread::work()
{
    for (;;) {
        Queued next;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping)
                return;
            next = std::move(m_waiting.front());
            m_waiting.pop_front();
            m_running = next.upload;
        }
        FtpOutcome outcome;
        if (!next.upload->abandoned())
            outcome = next.upload->perform();
        {
            const std::lock_guard lock(m_mutex);
            m_running.reset();
        }
        if (next.upload->abandoned())
            continue;
        // The owner decides on the event loop whether anyone still waits for it.
        QMetaObject::invokeMethod(
            &m_receiver, [ended = std::move(next.ended), outcome] { ended(outcome); },
            Qt::QueuedConnection);
    }
}
