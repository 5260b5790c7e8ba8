#include "pad/curlftpclient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <set>

#include <curl/curl.h>

#include <QFile>
#include <QMetaObject>

#include "core/failure.h"
#include "core/singlebytetext.h"

struct CurlFtpClient::State
{
    // Stops the transfer at once: its sockets are shut down under libcurl, so neither a
    // transfer under way nor the goodbye to a server that does not answer holds the worker.
    void abandon()
    {
        const std::lock_guard<std::mutex> lock(socketsMutex);
        abort = true;
        for (const curl_socket_t socket : sockets)
            ::shutdown(socket, SHUT_RDWR);
    }

    // Set by the event thread, read by the worker's progress check.
    std::atomic<bool> abort{false};
    // The sockets libcurl has open for this transfer; a socket is shut down only while
    // libcurl still holds it, never after it was closed and its number given to another.
    std::mutex socketsMutex;
    std::set<curl_socket_t> sockets;
    // Set by the worker once it has ended the session and may be joined.
    std::atomic<bool> ended{false};
    // The event thread's side only: written by the posted result, read by the transfer.
    bool executing = true;
    bool succeeded = false;
    QString failure;
};

namespace {

// What the worker needs, copied so that it shares nothing else with the event thread.
struct Job
{
    QByteArray url;
    QByteArray user;
    QByteArray password;
    QByteArray content;
    long timeoutSeconds = 60;
};

struct ReadCursor
{
    const QByteArray* content = nullptr;
    qsizetype offset = 0;
};

size_t readContent(char* buffer, size_t size, size_t count, void* userData)
{
    auto* cursor = static_cast<ReadCursor*>(userData);
    const qsizetype left = cursor->content->size() - cursor->offset;
    const qsizetype n = std::min<qsizetype>(left, qsizetype(size * count));
    std::memcpy(buffer, cursor->content->constData() + cursor->offset, size_t(n));
    cursor->offset += n;
    return size_t(n);
}

// libcurl asks about once a second, and more often while data flows: non-zero stops the
// transfer.
int checkAbort(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<CurlFtpClient::State*>(userData)->abort.load() ? 1 : 0;
}

int noteSocket(void* userData, curl_socket_t socket, curlsocktype)
{
    auto* state = static_cast<CurlFtpClient::State*>(userData);
    const std::lock_guard<std::mutex> lock(state->socketsMutex);
    state->sockets.insert(socket);
    // A transfer abandoned while this socket was being made stops on it at once.
    if (state->abort)
        ::shutdown(socket, SHUT_RDWR);
    return CURL_SOCKOPT_OK;
}

int closeSocket(void* userData, curl_socket_t socket)
{
    auto* state = static_cast<CurlFtpClient::State*>(userData);
    const std::lock_guard<std::mutex> lock(state->socketsMutex);
    state->sockets.erase(socket);
    return ::close(socket);
}

// Runs one upload on the worker thread and posts its outcome to the event thread.
void runUpload(const Job& job, const std::shared_ptr<CurlFtpClient::State>& state,
               QObject* eventTarget)
{
    CURL* curl = curl_easy_init();
    bool succeeded = false;
    QString failure;
    if (!curl) {
        failure = QStringLiteral("libcurl could not start");
    } else {
        char errorText[CURL_ERROR_SIZE] = {};
        ReadCursor cursor{&job.content, 0};
        curl_easy_setopt(curl, CURLOPT_URL, job.url.constData());
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
        // No proxy from the environment: the settings name the server.
        curl_easy_setopt(curl, CURLOPT_PROXY, "");
        curl_easy_setopt(curl, CURLOPT_USERNAME, job.user.constData());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, job.password.constData());
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, readContent);
        curl_easy_setopt(curl, CURLOPT_READDATA, &cursor);
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(job.content.size()));
        // The remote name goes to the server whole, in one store command, with no change of
        // folder first; a missing folder is the server's refusal, never created.
        curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, job.timeoutSeconds);
        // Also bounds the wait for the goodbye when the session ends.
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, job.timeoutSeconds);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, checkAbort);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, state.get());
        curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, noteSocket);
        curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, state.get());
        curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
        curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, state.get());

        const CURLcode result = curl_easy_perform(curl);
        long reply = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
        // The server's final reply to the store says that it has the whole file.
        succeeded = result == CURLE_OK && (reply == 226 || reply == 250);
        if (result != CURLE_OK)
            failure = QString::fromLocal8Bit(errorText[0] ? errorText : curl_easy_strerror(result));
        else if (!succeeded)
            failure = QStringLiteral("the server answered %1 to the store").arg(reply);
    }

    QMetaObject::invokeMethod(
        eventTarget,
        [state, succeeded, failure] {
            state->succeeded = succeeded;
            state->failure = failure;
            state->executing = false;
        },
        Qt::QueuedConnection);

    // Ends the session: the goodbye to the server, not awaited by anyone, so its answer is
    // given a second at most.
    if (curl) {
        curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, 1L);
        curl_easy_cleanup(curl);
    }
    state->ended = true;
}

class CurlFtpTransfer final : public FtpTransfer
{
public:
    explicit CurlFtpTransfer(std::shared_ptr<CurlFtpClient::State> state)
        : m_state(std::move(state))
    {
    }
    // A transfer given up before its end (the program is closing) is stopped.
    ~CurlFtpTransfer() override
    {
        if (m_state->executing)
            m_state->abandon();
    }

    bool stillExecuting() const override { return m_state->executing; }
    bool succeeded() const override { return m_state->succeeded; }
    QString failure() const override { return m_state->failure; }

private:
    std::shared_ptr<CurlFtpClient::State> m_state;
};

} // namespace

CurlFtpClient::CurlFtpClient()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlFtpClient::~CurlFtpClient()
{
    for (Worker& worker : m_workers) {
        worker.state->abandon();
        worker.thread.join();
    }
    m_workers.clear();
    curl_global_cleanup();
}

void CurlFtpClient::reapFinished()
{
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if (it->state->ended) {
            it->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

QByteArray CurlFtpClient::curlUrl(const FtpUpload& upload)
{
    const QByteArray host = upload.host.contains(QLatin1Char(':'))
                                ? '[' + upload.host.toLatin1() + ']'
                                : upload.host.toLatin1();
    // libcurl takes the decoded text after the first "/" as the name to store, "/"s included.
    return "ftp://" + host + ':' + QByteArray::number(upload.port) + '/' +
           toSingleByte(upload.remoteName).toPercentEncoding();
}

std::unique_ptr<FtpTransfer> CurlFtpClient::execute(const FtpUpload& upload)
{
    reapFinished();
    QFile file(upload.localFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(FailureCode::FileNotFound, QStringLiteral("cannot read ") + upload.localFile);
    Job job{curlUrl(upload), toSingleByte(upload.user), toSingleByte(upload.password),
            file.readAll(), long(upload.timeoutSeconds)};

    auto state = std::make_shared<State>();
    QObject* eventTarget = &m_eventTarget;
    m_workers.push_back(Worker{std::thread([job = std::move(job), state, eventTarget] {
                                   runUpload(job, state, eventTarget);
                               }),
                               state});
    return std::make_unique<CurlFtpTransfer>(state);
}
