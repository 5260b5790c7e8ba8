#pragma once

#include <functional>

#include <QString>

class ActivityLog;
class LiveSettings;

// Loads "varnelpayment.ini" into the live settings at start-up and saves them back on
// "Save Settings".
class SettingsFile
{
public:
    SettingsFile(QString settingsPath, ActivityLog& log);

    const QString& path() const { return m_path; }

    // Reads the keys into the fields, runs the serial port scan, then runs both device
    // boxes' click handlers.
    void load_settings(LiveSettings& fields, const std::function<void()>& list_comm_ports);
    // Writes the fields back in one replace of the file, creating the file when it is
    // missing.
    void mnuFileSave(const LiveSettings& fields);

private:
    QString m_path;
    ActivityLog& m_log;
};
