#pragma once

#include <optional>

#include <QMap>
#include <QString>
#include <QStringList>

#include "log/loglimits.h"

// Every setting of the settings file, read once at start-up. The window's fields start from
// the first group; the rest are the file's alone and are never written by the server.
struct StoredSettings
{
    // The range and default of `[Local] MaxConnections`.
    static constexpr int kDefaultMaxConnections = 200;
    static constexpr int kLowestMaxConnections = 1;
    static constexpr int kHighestMaxConnections = 100000;
    // The range and default of `[1000SE] PinTimeout`, in seconds.
    static constexpr int kDefaultPinTimeoutSeconds = 120;
    static constexpr int kShortestPinTimeoutSeconds = 10;
    static constexpr int kLongestPinTimeoutSeconds = 3600;
    // The highest COM number a Comm Port may name.
    static constexpr int kHighestComNumber = 255;

    // What the settings window shows and saves.
    QString localSockport = QStringLiteral("31420");
    QString ftpUrl;
    QString ftpUsername;
    QString ftpPassword;
    QString qp6100Device;
    QString qp6100Driver;
    QString qp6100Screen;
    QString qp6100CardReader;
    QString device1000SE;
    QString commPort1000SE;
    QString baudRate1000SE;
    QString parity1000SE;
    QString dataBits1000SE;
    QString encryption1000SE;

    // The file's alone, as texts: who may connect, where the ports listen, browser tills.
    QString allowFrom;
    QString bindAddress;
    QString webSocketPort;
    QString webSocketOrigins;
    QString webSocketCertFile;
    QString webSocketKeyFile;
    // `[Metrics] Port`: empty or 0 keeps the metrics port closed.
    QString metricsPort;
    // The file's alone, as numbers checked against their ranges.
    int maxConnections = kDefaultMaxConnections;
    // The activity log's cap, `[Local] MaxLogMegabytes`.
    int maxLogMegabytes = LogLimits::kDefaultMaxMegabytes;
    // How long a PIN entry without a TIMER of its own waits for the customer.
    int pinTimeoutSeconds = kDefaultPinTimeoutSeconds;
    // `[Simulator] padControlPort`; nothing when it names no port: the simulator's default.
    std::optional<quint16> padControlPort;
    // `[SerialPorts] COMn=/dev/...`: the device of a COM number, where the file names one.
    QMap<int, QString> serialPorts;

    // Log lines about values the file holds that are not used, and what is used instead.
    QStringList complaints;
};
