#include "pad/curlupload.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include <QString>

namespace {

struct EasyHandle
{
    CURL* curl = curl_easy_init();
    curl_slist* quote = nullptr;
    ~EasyHandle()
    {
        if (curl)
            curl_easy_cleanup(curl);
        curl_slist_free_all(quote);
    }
};

} // namespace

CurlUpload::CurlUpload(Job job) : m_job(std::move(job)) {}

size_t CurlUpload::readContent(char* buffer, size_t size, size_t count, void* userData)
{
    auto* self = static_cast<CurlUpload*>(userData);
    const qsizetype left = self->m_job.content.size() - self->m_readOffset;
    const qsizetype n = std::min<qsizetype>(left, qsizetype(size * count));
    std::memcpy(buffer, self->m_job.content.constData() + self->m_readOffset, size_t(n));
    self->m_readOffset += n;
    return size_t(n);
}

int CurlUpload::onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<CurlUpload*>(userData)->abandoned() ? 1 : 0;
}

int CurlUpload::noteSocket(void* userData, curl_socket_t socket, curlsocktype)
{
    auto* self = static_cast<CurlUpload*>(userData);
    const std::lock_guard lock(self->m_socketsMutex);
    self->m_open.push_back(socket);
    // Abandoned while connecting: the new connection goes at once.
    if (self->m_abandoned.load())
        ::shutdown(socket, SHUT_RDWR);
    return CURL_SOCKOPT_OK;
}

int CurlUpload::closeSocket(void* userData, curl_socket_t socket)
{
    auto* self = static_cast<CurlUpload*>(userData);
    const std::lock_guard lock(self->m_socketsMutex);
    auto& open = self->m_open;
    open.erase(std::remove(open.begin(), open.end(), socket), open.end());
    return ::close(socket);
}

void CurlUpload::abandon()
{
    const std::lock_guard lock(m_socketsMutex);
    m_abandoned.store(true);
    for (const curl_socket_t socket : m_open)
        ::shutdown(socket, SHUT_RDWR);
}

int CurlUpload::checkHostKey(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match,
                             void* userData)
{
    static_cast<CurlUpload*>(userData)->m_hostKeyMatch = match;
    // Only a key that the known_hosts file holds for this server is trusted; nothing is
    // added to the file.
    return match == CURLKHMATCH_OK ? CURLKHSTAT_FINE : CURLKHSTAT_REJECT;
}

void CurlUpload::setProtocolOptions(CURL* curl)
{
    const FtpSecurity& security = m_job.security;
    if (m_job.protocol == FtpProtocol::Sftp) {
        curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "sftp");
        curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES,
                         long(security.keyFile.isEmpty()
                                  ? CURLSSH_AUTH_PASSWORD
                                  : CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_PASSWORD));
        if (!security.keyFile.isEmpty())
            curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE,
                             security.keyFile.toLocal8Bit().constData());
        curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS,
                         security.knownHosts.toLocal8Bit().constData());
        curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, checkHostKey);
        curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, this);
        return;
    }
    const bool tls = m_job.protocol == FtpProtocol::Ftps || security.explicitTls;
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR,
                     m_job.protocol == FtpProtocol::Ftps ? "ftps" : "ftp");
    // The remote name goes to the server whole, in one store command, with no change of
    // folder first; a missing folder is the server's refusal, never created.
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    if (!tls)
        return;
    // TLS for the login, the commands and the file, or no upload at all; the server's
    // certificate is always checked.
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    curl_easy_setopt(curl, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    if (!security.caFile.isEmpty())
        curl_easy_setopt(curl, CURLOPT_CAINFO, security.caFile.toLocal8Bit().constData());
}

void CurlUpload::sayGoodbye()
{
    const std::lock_guard lock(m_socketsMutex);
    if (m_open.empty())
        return;
    // Inside TLS or SSH a goodbye in clear would be noise: the connections are just shut, so
    // that libcurl's own goodbye fails at once.
    const bool inClear = m_job.protocol == FtpProtocol::Ftp && !m_job.security.explicitTls;
    if (!inClear) {
        for (const curl_socket_t socket : m_open)
            ::shutdown(socket, SHUT_RDWR);
        return;
    }
    // The session's socket is then shut for writing, so libcurl's own goodbye fails at once
    // instead of waiting for an answer.
    static const char kQuit[] = "QUIT\r\n";
    const curl_socket_t session = m_open.front();
    (void)::send(session, kQuit, sizeof kQuit - 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    for (const curl_socket_t socket : m_open)
        ::shutdown(socket, socket == session ? SHUT_WR : SHUT_RDWR);
}

FtpOutcome CurlUpload::perform()
{
    using namespace std::chrono;
    const auto left = duration_cast<milliseconds>(m_job.deadline - steady_clock::now());
    if (left <= milliseconds(0))
        return FtpOutcome{false, QStringLiteral("its time ran out while another upload ran")};

    EasyHandle easy;
    CURL* curl = easy.curl;
    if (!curl)
        return FtpOutcome{false, QStringLiteral("libcurl could not start")};
    for (const QByteArray& command : m_job.afterStore)
        easy.quote = curl_slist_append(easy.quote, command.constData());

    curl_easy_setopt(curl, CURLOPT_URL, m_job.url.constData());
    setProtocolOptions(curl);
    // No proxy from the environment: the settings name the server.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_USERNAME, m_job.user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, m_job.password.constData());
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readContent);
    curl_easy_setopt(curl, CURLOPT_READDATA, this);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(m_job.content.size()));
    curl_easy_setopt(curl, CURLOPT_POSTQUOTE, easy.quote);
    // The whole upload, the server's confirmation of the store included, ends by its limit;
    // a confirmation that comes late within it is a success.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(left.count()));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     long(duration_cast<seconds>(left + seconds(1)).count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, m_errorText);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTFUNCTION, noteSocket);
    curl_easy_setopt(curl, CURLOPT_SOCKOPTDATA, this);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETFUNCTION, closeSocket);
    curl_easy_setopt(curl, CURLOPT_CLOSESOCKETDATA, this);

    const CURLcode result = curl_easy_perform(curl);
    const FtpOutcome outcome = outcomeOf(curl, result);
    sayGoodbye();
    return outcome;
}

FtpOutcome CurlUpload::outcomeOf(CURL* curl, CURLcode result) const
{
    long reply = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
    FtpOutcome outcome;
    // An FTP server's reply to the last command says that the whole file is in place: the
    // store's own confirmation, or the rename's after it. SFTP has no such codes: each step
    // that failed is an error of its own.
    outcome.succeeded =
        result == CURLE_OK && (m_job.protocol == FtpProtocol::Sftp || reply == 226 || reply == 250);
    const QString cause = securityCause(result);
    if (!cause.isEmpty())
        outcome.failure =
            cause + QStringLiteral(" (") +
            QString::fromLocal8Bit(m_errorText[0] ? m_errorText : curl_easy_strerror(result)) +
            QLatin1Char(')');
    else if (result == CURLE_QUOTE_ERROR)
        outcome.failure =
            QStringLiteral("the server refused to rename the stored file into place (%1)")
                .arg(reply);
    else if (result != CURLE_OK)
        outcome.failure =
            QString::fromLocal8Bit(m_errorText[0] ? m_errorText : curl_easy_strerror(result));
    else if (!outcome.succeeded)
        outcome.failure = QStringLiteral("the server answered %1 to the store").arg(reply);
    return outcome;
}

QString CurlUpload::securityCause(CURLcode result) const
{
    if (m_job.protocol == FtpProtocol::Sftp) {
        if (m_hostKeyMatch == CURLKHMATCH_MISMATCH)
            return QStringLiteral("the server's host key has changed since it was added to ") +
                   m_job.security.knownHosts;
        if (m_hostKeyMatch == CURLKHMATCH_MISSING)
            return QStringLiteral("the server's host key is unknown: it is not in ") +
                   m_job.security.knownHosts;
        if (result == CURLE_LOGIN_DENIED)
            return QStringLiteral("the server refused the login");
        return {};
    }
    switch (result) {
    case CURLE_PEER_FAILED_VERIFICATION:
        return QStringLiteral("the server's certificate is not trusted");
    case CURLE_USE_SSL_FAILED:
        return QStringLiteral("the server refused TLS");
    case CURLE_SSL_CONNECT_ERROR:
        return QStringLiteral("the TLS handshake with the server failed");
    case CURLE_SSL_CACERT_BADFILE:
        return QStringLiteral("the CA file cannot be read: ") + m_job.security.caFile;
    default:
        return {};
    }
}
