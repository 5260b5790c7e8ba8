#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct Settings;

// A port the server listens on, as the settings file names it.
struct PortSetting
{
    QString section;
    QString key;
    // The setting's text; empty: the port stays closed.
    QString value;
};

// The server's own ports in `settings`: the TCP port, the WebSocket port, the simulated pad's
// control port, the metrics port. A new listener adds its row here.
QList<PortSetting> serverPortSettings(const Settings& settings);

// One line for each pair of `ports` set to the same port, naming both settings: "Settings:
// [Local] localSockport and [WebSocket] Port are both port 31421; only one of them can listen".
QStringList portClashes(const QList<PortSetting>& ports);
