#pragma once

#include <QByteArray>
#include <QString>

// The managed policy of Chromium and Google Chrome that lets pages from the origins in
// `originsSetting` (the `[WebSocket] Origins` text) reach this box on the local network:
// {"LocalNetworkAccessAllowedForUrls": [...]}, with a line end.
QByteArray browserPolicy(const QString& originsSetting);
