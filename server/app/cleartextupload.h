#pragma once

#include <optional>

#include <QString>

#include "settings/ftpsecurity.h"
#include "settings/ftpsettings.h"

// The line start-up logs when signature uploads would send the FTP password and the pictures
// across the network in clear: plain FTP, without TLS, to a server that is not this machine.
std::optional<QString> cleartextUploadWarning(const FtpSettings& ftp, const FtpSecurity& security);
