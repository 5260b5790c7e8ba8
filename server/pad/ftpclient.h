#pragma once

#include <memory>

#include <QString>

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
};

// One upload under way. It runs while the caller lets events run; it ends the session with
// the server when it is destroyed, without waiting for the server's goodbye.
class FtpTransfer
{
public:
    virtual ~FtpTransfer() = default;
    virtual bool stillExecuting() const = 0;
    // Once it no longer executes: whether the server confirmed that it stored the whole file.
    virtual bool succeeded() const = 0;
    // Once it no longer executes and did not succeed: why, for the log (never the password).
    virtual QString failure() const = 0;
};

// The FTP client the signature upload uses: libcurl in the program, a fake in tests.
class FtpClient
{
public:
    virtual ~FtpClient() = default;
    // Starts storing the file and returns at once; throws Failure when the upload cannot
    // start (the local file cannot be read).
    virtual std::unique_ptr<FtpTransfer> execute(const FtpUpload& upload) = 0;
};
