#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include <QByteArray>

#include <curl/curl.h>

#include "pad/ftpclient.h"

// One upload as the upload thread runs it: libcurl's easy interface, which may block, so it
// never runs on the event loop. Only abandon() is called from another thread.
class CurlUpload
{
public:
    struct Job
    {
        QByteArray url;
        QByteArray user;
        QByteArray password;
        QByteArray content;
        FtpProtocol protocol = FtpProtocol::Ftp;
        FtpSecurity security;
        // The commands that put the stored file into place once the server has confirmed it.
        std::vector<QByteArray> afterStore;
        // When the whole upload must have ended, however long it waited for its turn.
        std::chrono::steady_clock::time_point deadline;
    };

    explicit CurlUpload(Job job);
    CurlUpload(const CurlUpload&) = delete;
    CurlUpload& operator=(const CurlUpload&) = delete;

    // Runs the whole upload and says how it ended; on the upload thread only.
    FtpOutcome perform();
    // Stops it at once from any thread: its connections are shut under libcurl, so a read
    // that blocks returns, and perform() ends soon after.
    void abandon();
    bool abandoned() const { return m_abandoned.load(); }

private:
    static size_t readContent(char* buffer, size_t size, size_t count, void* userData);
    static int onProgress(void* userData, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int noteSocket(void* userData, curl_socket_t socket, curlsocktype);
    static int closeSocket(void* userData, curl_socket_t socket);

    static int checkHostKey(CURL*, const curl_khkey*, const curl_khkey*, curl_khmatch match,
                            void* userData);

    void setProtocolOptions(CURL* curl);
    FtpOutcome outcomeOf(CURL* curl, CURLcode result) const;
    // Why the server could not be trusted or spoken to securely, for the log.
    QString securityCause(CURLcode result) const;
    // Says goodbye without waiting for the answer, so that releasing libcurl never waits.
    void sayGoodbye();

    const Job m_job;
    qsizetype m_readOffset = 0;
    std::atomic<bool> m_abandoned{false};
    // Held while a socket is shut or closed, so that abandon() never shuts a number that
    // libcurl has closed and something else has reused.
    std::mutex m_socketsMutex;
    // The sockets libcurl has open, in the order it opened them: the first is the session's.
    std::vector<curl_socket_t> m_open;
    char m_errorText[CURL_ERROR_SIZE] = {};
    // How an SFTP server's host key compared with the known_hosts file.
    curl_khmatch m_hostKeyMatch = CURLKHMATCH_OK;
};
