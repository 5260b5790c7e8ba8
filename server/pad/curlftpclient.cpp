#include "pad/curlftpclient.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <vector>

#include <curl/curl.h>

#include <QElapsedTimer>
#include <QFile>
#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include "core/failure.h"
#include "core/singlebytetext.h"

// One upload: its own multi handle (so that its connection is its own and ends with it), the
// notifiers of the sockets libcurl watches and libcurl's timer.
class CurlFtpTransfer final : public FtpTransfer
{
public:
    struct Job
    {
        QByteArray url;
        QByteArray user;
        QByteArray password;
        QByteArray content;
        long timeoutSeconds = 60;
    };

    CurlFtpTransfer(CurlFtpClient& client, Job job, FtpClient::Ended ended);
    ~CurlFtpTransfer() override;
    CurlFtpTransfer(const CurlFtpTransfer&) = delete;
    CurlFtpTransfer& operator=(const CurlFtpTransfer&) = delete;

    // Drops the connections and releases libcurl's handles at once, announcing nothing.
    void abandon();
    // The client is going away before the transfer: it is abandoned and forgets the client.
    void outliveClient();

private:
    struct Watch
    {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    // How long libcurl may wait for the server's answer to the store once every byte has gone.
    // libcurl reads that answer in a blocking call of its own, which only this check ends
    // early (it asks about once a second), so this bounds how long the loop can be held.
    static constexpr qint64 kConfirmWaitMs = 1000;

    static size_t readContent(char* buffer, size_t size, size_t count, void* userData);
    static int onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent);
    static int onSocket(CURL*, curl_socket_t socket, int what, void* userData, void*);
    static int onTimer(CURLM*, long timeoutMs, void* userData);
    static int noteSocket(void* userData, curl_socket_t socket, curlsocktype);
    static int closeSocket(void* userData, curl_socket_t socket);

    void watch(curl_socket_t socket, int what);
    void retire(std::unique_ptr<QSocketNotifier>& notifier);
    void act(curl_socket_t socket, int events);
    void takeEnd();
    // Says goodbye without waiting for the answer, then lets libcurl close what it holds.
    void release(bool goodbye);

    CurlFtpClient* m_client;
    Job m_job;
    qsizetype m_readOffset = 0;
    // Whether libcurl has been told that the content has ended.
    bool m_handedAll = false;
    // Since when every byte has been handed to libcurl and sent.
    QElapsedTimer m_allSent;
    FtpClient::Ended m_ended;
    CURLM* m_multi = nullptr;
    CURL* m_easy = nullptr;
    char m_errorText[CURL_ERROR_SIZE] = {};
    QTimer m_timer;
    std::map<curl_socket_t, Watch> m_watches;
    // Notifiers of sockets libcurl no longer watches: one may be the sender of the signal
    // being handled, so they go only when no notifier signal is on the stack.
    std::vector<std::unique_ptr<QSocketNotifier>> m_retired;
    // The sockets libcurl has open, in the order it opened them: the first is the session's.
    std::vector<curl_socket_t> m_open;
    // Owns the queued announcement of the end: gone with the transfer, so is the call.
    QObject m_announcer;
};

CurlFtpTransfer::CurlFtpTransfer(CurlFtpClient& client, Job job, FtpClient::Ended ended)
    : m_client(&client), m_job(std::move(job)), m_ended(std::move(ended))
{
    m_client->m_transfers.insert(this);
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { act(CURL_SOCKET_TIMEOUT, 0); });

    m_multi = curl_multi_init();
    m_easy = curl_easy_init();
    if (!m_multi || !m_easy) {
        release(false);
        QMetaObject::invokeMethod(
            &m_announcer,
            [this] {
                if (m_ended)
                    m_ended(FtpOutcome{false, QStringLiteral("libcurl could not start")});
            },
            Qt::QueuedConnection);
        return;
    }
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);

    CURL* curl = m_easy;
    curl_easy_setopt(curl, CURLOPT_URL, m_job.url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    // No proxy from the environment: the settings name the server.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_USERNAME, m_job.user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, m_job.password.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readContent);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_job.content.size()));
    // The remote name goes to the server whole, in one store command, with no change of
    // folder first; a missing folder is the server's refusal, never created.
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, m_job.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_job.timeoutSeconds);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, noteSocket);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);
    // Starts nothing yet: libcurl asks for its timer, which runs from the event loop.
    curl_multi_add_handle(m_multi, m_easy);
}

CurlFtpTransfer::~CurlFtpTransfer()
{
    abandon();
    if (m_client)
        m_client->m_transfers.erase(this);
}

void CurlFtpTransfer::outliveClient()
{
    abandon();
    m_ended = nullptr;
    m_client = nullptr;
}

void CurlFtpTransfer::abandon()
{
    // Shut down under libcurl: the transfer stops at once and libcurl's own goodbye fails at
    // once instead of waiting for an answer.
    for (const curl_socket_t socket : m_open)
        ::shutdown(socket, SHUT_RDWR);
    release(false);
}

size_t CurlFtpTransfer::readContent(char* buffer, size_t size, size_t count, void* userData)
{
    auto* self = static_cast<CurlFtpTransfer*>(userData);
    const qsizetype left = self->m_job.content.size() - self->m_readOffset;
    const qsizetype n = std::min<qsizetype>(left, qsizetype(size * count));
    std::memcpy(buffer, self->m_job.content.constData() + self->m_readOffset, size_t(n));
    self->m_readOffset += n;
    // libcurl asks for no more once it has the size it was told.
    if (self->m_readOffset == self->m_job.content.size())
        self->m_handedAll = true;
    return size_t(n);
}

int CurlFtpTransfer::onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t sent)
{
    auto* self = static_cast<CurlFtpTransfer*>(userData);
    if (!self->m_handedAll || sent < self->m_job.content.size())
        return 0;
    if (!self->m_allSent.isValid())
        self->m_allSent.start();
    return self->m_allSent.elapsed() >= kConfirmWaitMs ? 1 : 0;
}

int CurlFtpTransfer::onSocket(CURL*, curl_socket_t socket, int what, void* userData, void*)
{
    static_cast<CurlFtpTransfer*>(userData)->watch(socket, what);
    return 0;
}

int CurlFtpTransfer::onTimer(CURLM*, long timeoutMs, void* userData)
{
    auto* self = static_cast<CurlFtpTransfer*>(userData);
    if (timeoutMs < 0)
        self->m_timer.stop();
    else
        self->m_timer.start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

int CurlFtpTransfer::noteSocket(void* userData, curl_socket_t socket, curlsocktype)
{
    static_cast<CurlFtpTransfer*>(userData)->m_open.push_back(socket);
    return CURL_SOCKOPT_OK;
}

int CurlFtpTransfer::closeSocket(void* userData, curl_socket_t socket)
{
    auto& open = static_cast<CurlFtpTransfer*>(userData)->m_open;
    open.erase(std::remove(open.begin(), open.end(), socket), open.end());
    return ::close(socket);
}

void CurlFtpTransfer::retire(std::unique_ptr<QSocketNotifier>& notifier)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    m_retired.push_back(std::move(notifier));
}

void CurlFtpTransfer::watch(curl_socket_t socket, int what)
{
    if (what == CURL_POLL_REMOVE) {
        const auto found = m_watches.find(socket);
        if (found != m_watches.end()) {
            retire(found->second.read);
            retire(found->second.write);
            m_watches.erase(found);
        }
        return;
    }
    Watch& watch = m_watches[socket];
    const auto want = [&](std::unique_ptr<QSocketNotifier>& notifier, QSocketNotifier::Type type,
                          bool wanted, int event) {
        if (!wanted) {
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
            QObject::connect(notifier.get(), &QSocketNotifier::activated,
                             [this, socket, event] { act(socket, event); });
        }
        notifier->setEnabled(true);
    };
    want(watch.read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT,
         CURL_CSELECT_IN);
    want(watch.write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT,
         CURL_CSELECT_OUT);
}

void CurlFtpTransfer::act(curl_socket_t socket, int events)
{
    // The notifier being handled is not among the retired ones: it was still watching.
    m_retired.clear();
    if (!m_multi)
        return;
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    takeEnd();
}

void CurlFtpTransfer::takeEnd()
{
    int left = 0;
    while (const CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != m_easy)
            continue;
        const CURLcode result = message->data.result;
        long reply = 0;
        curl_easy_getinfo(m_easy, CURLINFO_RESPONSE_CODE, &reply);
        FtpOutcome outcome;
        // The server's final reply to the store says that it has the whole file.
        outcome.succeeded = result == CURLE_OK && (reply == 226 || reply == 250);
        if (result == CURLE_ABORTED_BY_CALLBACK)
            outcome.failure = QStringLiteral("the server did not confirm the store within %1 ms "
                                             "of its end")
                                  .arg(kConfirmWaitMs);
        else if (result != CURLE_OK)
            outcome.failure =
                QString::fromLocal8Bit(m_errorText[0] ? m_errorText : curl_easy_strerror(result));
        else if (!outcome.succeeded)
            outcome.failure = QStringLiteral("the server answered %1 to the store").arg(reply);
        release(true);
        // Announced from the event loop, where the owner may destroy the transfer.
        QMetaObject::invokeMethod(
            &m_announcer,
            [this, outcome] {
                if (m_ended)
                    m_ended(outcome);
            },
            Qt::QueuedConnection);
        return;
    }
}

void CurlFtpTransfer::release(bool goodbye)
{
    m_timer.stop();
    if (goodbye && !m_open.empty()) {
        // The goodbye goes out and nobody waits for its answer: the session's socket is then
        // shut for writing, so libcurl's own goodbye fails at once instead of waiting.
        static const char kQuit[] = "QUIT\r\n";
        const curl_socket_t session = m_open.front();
        (void)::send(session, kQuit, sizeof kQuit - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
        for (const curl_socket_t socket : m_open)
            ::shutdown(socket, socket == session ? SHUT_WR : SHUT_RDWR);
    }
    if (m_multi && m_easy)
        curl_multi_remove_handle(m_multi, m_easy);
    if (m_easy)
        curl_easy_cleanup(m_easy);
    m_easy = nullptr;
    if (m_multi)
        curl_multi_cleanup(m_multi);
    m_multi = nullptr;
    for (auto& [socket, watch] : m_watches) {
        retire(watch.read);
        retire(watch.write);
    }
    m_watches.clear();
}

CurlFtpClient::CurlFtpClient()
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
}

CurlFtpClient::~CurlFtpClient()
{
    for (CurlFtpTransfer* transfer : m_transfers)
        transfer->outliveClient();
    curl_global_cleanup();
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

std::unique_ptr<FtpTransfer> CurlFtpClient::execute(const FtpUpload& upload, Ended ended)
{
    QFile file(upload.localFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Failure(FailureCode::FileNotFound, QStringLiteral("cannot read ") + upload.localFile);
    CurlFtpTransfer::Job job{curlUrl(upload), toSingleByte(upload.user),
                             toSingleByte(upload.password), file.readAll(),
                             long(upload.timeoutSeconds)};
    return std::make_unique<CurlFtpTransfer>(*this, std::move(job), std::move(ended));
}
