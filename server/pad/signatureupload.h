#pragma once

#include <optional>

#include <QString>

#include "core/eventpump.h"

class ActivityLog;
class EventPump;
class FtpClient;
class PadTimeout;

// Sends a freshly saved signature picture to the FTP server of the settings file's "FTP"
// section and then removes the local copy.
class SignatureUpload
{
public:
    // The server part of the URL setting.
    struct Server
    {
        QString host;
        quint16 port = 21;
        friend bool operator==(const Server&, const Server&) = default;
    };

    // The settings are read from the file at `settingsPath` at every upload. `padTimeout` is
    // the server's shared waiting limit, which bounds the transfer.
    SignatureUpload(QString settingsPath, ActivityLog& log, FtpClient& ftp, EventPump& pump,
                    PadTimeout& padTimeout);

    // True when the server confirmed the whole file and the local file was then removed (or
    // kept because a newer one was written at its path meanwhile); false, with the local file
    // kept, otherwise. A transfer is abandoned, returning false, once `clientGone` holds or
    // the program is closing. Catches its own failures.
    bool sig_ftp(const QString& sigFile, const QString& ftpPath, const StopWhen& clientGone = {});

    // The URL setting with "ftp://" put in front unless it holds that text anywhere (letter
    // case counts).
    static QString withScheme(const QString& url);
    // Host and port of a URL that withScheme() gave; port 21 unless the URL names one.
    // Nothing when it names no host, another scheme or a port that is not one.
    static std::optional<Server> serverOf(const QString& url);
    // The remote name: `ftpPath` followed by the last component of `sigFile` in lower case.
    static QString remoteName(const QString& sigFile, const QString& ftpPath);
    // The command text of the log: "PUT " + sigFile + " " + the remote name.
    static QString inetCmd(const QString& sigFile, const QString& ftpPath);

private:
    bool upload(const QString& sigFile, const QString& ftpPath, const StopWhen& clientGone);
    // Lets events run until the next one; false, having logged why, when the transfer is to
    // be abandoned.
    bool waitForTransfer(const QString& sigFile, const StopWhen& clientGone);

    QString m_settingsPath;
    ActivityLog& m_log;
    FtpClient& m_ftp;
    EventPump& m_pump;
    PadTimeout& m_padTimeout;
};
