#pragma once

#include <QString>

// `[FTP]`'s settings for encrypted uploads, which the settings window does not show.
struct FtpSecurity
{
    // `TLS=Y`: an ftp:// server must take TLS (AUTH TLS) for its control and data connections.
    bool explicitTls = false;
    // `CAFile`: the certificates an FTPS server's must chain to; empty for the system's.
    QString caFile;
    // `KeyFile`: the private key an SFTP login uses; empty to log in with the password.
    QString keyFile;
    // `KnownHosts`: the OpenSSH known_hosts file an SFTP server's host key must be in.
    QString knownHosts;

    friend bool operator==(const FtpSecurity&, const FtpSecurity&) = default;
};

// Those settings of the settings file at `settingsPath`; a file named without a folder is in
// the settings file's folder, and KnownHosts is `known_hosts` there unless set.
FtpSecurity readFtpSecurity(const QString& settingsPath);
