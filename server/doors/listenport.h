#pragma once

#include <optional>

#include <QHostAddress>
#include <QString>

// Reads the port field's text as a listening port (1 to 65535). On failure returns nothing
// and, when `reason` is given, says why in words a user can act on.
std::optional<quint16> parseListenPort(const QString& field, QString* reason = nullptr);

// Whether a port setting leaves its port closed: empty or 0.
bool isLeftClosed(const QString& setting);

// Reads the `[Local] bindAddress` setting: empty means every address of this machine, else one
// IP address. On failure returns nothing and, when `reason` is given, says why.
std::optional<QHostAddress> parseBindAddress(const QString& setting, QString* reason = nullptr);
