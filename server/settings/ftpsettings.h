#pragma once

#include <QString>

#include "core/windowfields.h"

// The "FTP" section of the settings file at `settingsPath`: ftpURL, ftpUsername and
// ftpPassword, each empty when missing.
FtpSettings readFtpSettings(const QString& settingsPath);
// One key of that section as it stands in the file; empty when missing.
QString readFtpSetting(const QString& settingsPath, const QString& key);
