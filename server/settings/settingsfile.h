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
    // The range and default of `[1000SE] PinTimeout`, in seconds.
    static constexpr int kDefaultPinTimeoutSeconds = 120;
    static constexpr int kShortestPinTimeoutSeconds = 10;
    static constexpr int kLongestPinTimeoutSeconds = 3600;

    SettingsFile(QString settingsPath, ActivityLog& log);

    const QString& path() const { return m_path; }

    // Reads the keys into the fields, runs the serial port scan, then runs both device
    // boxes' click handlers.
    void load_settings(LiveSettings& fields, const std::function<void()>& list_comm_ports);
    // The cap on open client connections, `[Local] MaxConnections` (read at start-up, never
    // written): 200 when the key is missing; a value that is not a whole number from 1 to
    // 100000 is logged and 200 is used.
    int maxConnections() const;
    // How long a PIN entry without a TIMER of its own waits for the customer,
    // `[1000SE] PinTimeout` in seconds (read at start-up, never written): 120 when the key is
    // missing; a value that is not a whole number from 10 to 3600 is logged and 120 is used.
    int pinTimeoutSeconds() const;
    // Writes the fields back in one replace of the file, creating the file when it is
    // missing.
    void mnuFileSave(const LiveSettings& fields);

private:
    QString m_path;
    ActivityLog& m_log;
};
