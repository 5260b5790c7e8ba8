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
    // The range and default of `[Local] MaxConnections`.
    static constexpr int kDefaultMaxConnections = 200;
    static constexpr int kLowestMaxConnections = 1;
    static constexpr int kHighestMaxConnections = 100000;

    SettingsFile(QString settingsPath, ActivityLog& log);

    const QString& path() const { return m_path; }

    // Reads the keys into the fields, runs the serial port scan, then runs both device
    // boxes' click handlers.
    void load_settings(LiveSettings& fields, const std::function<void()>& list_comm_ports);
    // The cap on open client connections, `[Local] MaxConnections` (read at start-up, never
    // written): 200 when the key is missing; a value that is not a whole number from 1 to
    // 100000 is logged and 200 is used.
    int maxConnections() const;
    // The metrics port's text, `[Metrics] Port` (read at start-up, never written): empty or 0
    // keeps the port closed.
    QString metricsPort() const;
    // Writes the fields back in one replace of the file, creating the file when it is
    // missing.
    void mnuFileSave(const LiveSettings& fields);

private:
    QString m_path;
    ActivityLog& m_log;
};
