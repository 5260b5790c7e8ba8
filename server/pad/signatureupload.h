#pragma once

#include <functional>
#include <memory>
#include <optional>

#include <QString>

#include "pad/fileidentity.h"
#include "pad/ftpclient.h"
#include "pad/signatureoutbox.h"

class ActivityLog;
class PadTimeout;

// Sends a freshly saved signature picture to the FTP server of the "FTP" settings and then
// removes the local copy. One object per upload; it advances on the transfer's own events.
class SignatureUpload
{
public:
    // The server part of the URL setting.
    struct Server
    {
        QString host;
        quint16 port = 21;
        FtpProtocol protocol = FtpProtocol::Ftp;
        friend bool operator==(const Server&, const Server&) = default;
    };
    enum class End {
        // The server confirmed the whole file; the local file was then removed (or kept
        // because a newer one was written at its path meanwhile).
        Uploaded,
        // It did not arrive, and the picture waits in the outbox to be tried again.
        Queued,
        // Anything else: the local file is kept.
        Failed,
        // The client went away: the transfer was dropped and the local file kept.
        Abandoned,
    };
    using Ended = std::function<void(End)>;

    // `padTimeout` is the server's shared waiting limit, which bounds the transfer.
    SignatureUpload(FtpSource ftp, ActivityLog& log, PadTimeout& padTimeout, QString sigFile,
                    QString ftpPath);
    SignatureUpload(const SignatureUpload&) = delete;
    SignatureUpload& operator=(const SignatureUpload&) = delete;
    // A transfer still under way is dropped; its picture waits in the outbox.
    ~SignatureUpload();

    // Reads the settings and starts the transfer. `ended` runs once: from the event loop, or
    // before start() returns when the upload cannot begin. Catches its own failures.
    void start(Ended ended);
    // The client went away: a transfer under way is dropped at once, logged, and ends as
    // abandoned with the local file kept.
    void clientGone();
    // The program is closing: a transfer under way is dropped at once and logged; `ended` is
    // not called.
    void close();

    // The URL setting with "ftp://" put in front unless it holds that text or "ftps://"
    // anywhere, in any letter case ("sftp://" holds the first).
    static QString withScheme(const QString& url);
    // Host, port and protocol of a URL that withScheme() gave: ftp:// (port 21 unless the URL
    // names one), ftps:// (990) or sftp:// (22). Nothing when it names no host, another
    // scheme or a port that is not one.
    static std::optional<Server> serverOf(const QString& url);
    // The remote name: `ftpPath` followed by the last component of `sigFile` in lower case.
    static QString remoteName(const QString& sigFile, const QString& ftpPath);
    // The command text of the log: "PUT " + sigFile + " " + the remote name.
    static QString inetCmd(const QString& sigFile, const QString& ftpPath);

private:
    void begin();
    void transferEnded(const FtpOutcome& outcome);
    void removeSent();
    // The picture is left to the outbox, to be tried again (`failure` empty when the try was
    // given up before its end).
    void leaveToOutbox(const QString& failure);
    void end(End how);

    FtpSource m_ftp;
    ActivityLog& m_log;
    PadTimeout& m_padTimeout;
    QString m_sigFile;
    QString m_ftpPath;
    Ended m_ended;
    // The file as it was when the transfer began: only this file is removed afterwards.
    std::optional<FileIdentity> m_sent;
    std::unique_ptr<FtpTransfer> m_transfer;
    // Where the picture waits while this first try runs; none when it stays where it is.
    std::optional<SignatureOutbox::Admitted> m_admitted;
    // Whether this upload holds the outbox's retries back.
    bool m_holdsOutbox = false;
};
