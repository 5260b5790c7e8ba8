#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "settings/ftpsecurity.h"
#include "settings/ftpsettings.h"

// How the server is spoken to: FTP (in clear, or with `AUTH TLS` when the security settings
// ask for it), FTP inside TLS from the first byte, or SFTP over SSH.
enum class FtpProtocol { Ftp, Ftps, Sftp };

class SignatureOutbox;

// One file to store on an FTP server: where, as whom, and within how long.
struct FtpUpload
{
    QString host;
    quint16 port = 21;
    QString user;
    QString password;
    // The whole session, from connecting to the server's answer to the store, in seconds.
    int timeoutSeconds = 60;
    // The local file to send.
    QString localFile;
    // The name to store it under, sent to the server as the text it is.
    QString remoteName;
    FtpProtocol protocol = FtpProtocol::Ftp;
    // What the server must prove, and the key an SFTP login may use.
    FtpSecurity security;
    // A try again of a picture that waits in the outbox, not a till's own upload.
    bool retry = false;
};

// How an upload ended.
struct FtpOutcome
{
    // Whether the server confirmed that it stored the whole file.
    bool succeeded = false;
    // When it did not: why, for the log (never the password).
    QString failure;
};

// One upload under way. It advances on the main event loop and announces its end once.
// Destroying it before then abandons it at once: its connections are dropped.
class FtpTransfer
{
public:
    virtual ~FtpTransfer() = default;
};

// The FTP client the signature upload uses: libcurl in the program, a fake in tests.
class FtpClient
{
public:
    // Runs once, from the event loop (never inside execute()); the owner may destroy the
    // transfer inside it.
    using Ended = std::function<void(const FtpOutcome&)>;

    virtual ~FtpClient() = default;
    // Starts storing the file and returns at once; throws Failure when the upload cannot
    // start (the local file cannot be read).
    virtual std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload, Ended ended) = 0;
};

// What an upload needs besides the file: the client that sends and the settings, read afresh
// at every upload.
struct FtpSource
{
    FtpClient& client;
    std::function<FtpSettings()> settings;
    // None: no TLS asked for, the system's CAs, no key file.
    std::function<FtpSecurity()> security;
    // Where a picture waits when its upload has not arrived; none: it stays where it is.
    SignatureOutbox* outbox = nullptr;
};
