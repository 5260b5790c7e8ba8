#pragma once

#include <QString>

// Where signature pictures are uploaded: the settings file's "FTP" section as it stands.
struct FtpSettings
{
    // The server as the settings give it, with or without "ftp://" in front.
    QString url;
    QString user;
    QString password;

    friend bool operator==(const FtpSettings&, const FtpSettings&) = default;
};

// The "FTP" section of the settings file at `settingsPath`: ftpURL, ftpUsername and
// ftpPassword, each empty when missing.
FtpSettings readFtpSettings(const QString& settingsPath);
