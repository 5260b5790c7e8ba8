#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class ActivityLog;

// A port the server listens on, as the settings file names it.
struct PortSetting
{
    QString section;
    QString key;
    // The port used when the key is missing; empty: the port stays closed then.
    QString defaultValue;
};

// The server's own ports: the TCP port, the WebSocket port, the simulated pad's control port.
// A new listener adds its row here.
QList<PortSetting> serverPortSettings();

// One line for each pair of `ports` that the settings file at `settingsPath` sets to the same
// port, naming both settings: "Settings: [Local] localSockport and [WebSocket] Port are both
// port 31421; only one of them can listen".
QStringList portClashes(const QString& settingsPath, const QList<PortSetting>& ports);

// Logs the server's port clashes and repeats them on standard error, at start.
void reportPortClashes(const QString& settingsPath, ActivityLog& log);
