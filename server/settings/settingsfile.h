#pragma once

#include <QString>

#include "settings/settings.h"

class ActivityLog;

// Reads "varnelpayment.ini" into one settings value at start-up and writes the window's fields
// back on "Save Settings". Nothing else reads the file.
class SettingsFile
{
public:
    SettingsFile(QString settingsPath, ActivityLog& log);

    const QString& path() const { return m_path; }

    // Every key of the file (defaults for missing ones); logs nothing: a value out of its range
    // is replaced by its default and described in `complaints`.
    Settings read() const { return read(m_path); }
    static Settings read(const QString& settingsPath);
    // Writes the window's fields of `settings` (and the QP6100's driver, screen and card
    // reader) in one replace of the file, creating the file when it is missing; every other
    // line of the file stays as it is.
    void mnuFileSave(const Settings& settings);

private:
    QString m_path;
    ActivityLog& m_log;
};
