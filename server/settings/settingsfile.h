#pragma once

#include <functional>

#include <QString>

#include "settings/storedsettings.h"

class ActivityLog;
class LiveSettings;

// Reads "varnelpayment.ini" into one settings value, loads that into the live settings at
// start-up and saves the live settings back on "Save Settings". Nothing else reads the file.
class SettingsFile
{
public:
    SettingsFile(QString settingsPath, ActivityLog& log);

    const QString& path() const { return m_path; }

    // Every key of the file (defaults for missing ones); logs nothing: a value out of its range
    // is replaced by its default and described in `complaints`.
    StoredSettings read() const { return read(m_path); }
    static StoredSettings read(const QString& settingsPath);
    // Puts the stored values into the fields, runs the serial port scan, then runs both device
    // boxes' click handlers.
    void load_settings(LiveSettings& fields, const StoredSettings& stored,
                       const std::function<void()>& list_comm_ports);
    // The same with the file as it is now.
    void load_settings(LiveSettings& fields, const std::function<void()>& list_comm_ports)
    {
        load_settings(fields, read(), list_comm_ports);
    }
    // Writes the fields back in one replace of the file, creating the file when it is
    // missing.
    void mnuFileSave(const LiveSettings& fields);

private:
    QString m_path;
    ActivityLog& m_log;
};
