#pragma once

#include <QString>

#include "core/windowfields.h"

// The "FTP" section of the settings file at `settingsPath`: ftpURL, ftpUsername and
// ftpPassword, each empty when missing.
FtpSettings readFtpSettings(const QString& settingsPath);
