#pragma once

#include <optional>

#include <QMap>
#include <QString>
#include <QStringList>

#include "core/windowfields.h"
#include "log/loglimits.h"

// The settings file read once at start-up, one member for each of its sections. A section's
// `fields` are what the settings window shows and "Save Settings" writes; the rest are the
// file's alone and are never written by the server.

// `[Local]`: the TCP port, who may connect, where the ports listen, and two caps.
struct LocalSettings
{
    // The range and default of `MaxConnections`.
    static constexpr int kDefaultMaxConnections = 200;
    static constexpr int kLowestMaxConnections = 1;
    static constexpr int kHighestMaxConnections = 100000;

    // A missing `localSockport` is this port; an empty one stays empty.
    LocalFields fields{QStringLiteral("31420")};
    QString allowFrom;
    QString bindAddress;
    int maxConnections = kDefaultMaxConnections;
    // The activity log's cap, `MaxLogMegabytes`.
    int maxLogMegabytes = LogLimits::kDefaultMaxMegabytes;
    // `IdleSeconds`: a till's connection that sends nothing for this long is closed.
    static constexpr int kDefaultIdleSeconds = 300;
    static constexpr int kShortestIdleSeconds = 1;
    static constexpr int kLongestIdleSeconds = 86400;
    int idleSeconds = kDefaultIdleSeconds;
};

// `[QP6100]`: the device box, and the pad's driver ("simulated" or "screen"), the screen the
// screen pad shows on (a number from 0; empty is the last screen) and the input device of its
// card reader (empty: the reader types into the pad window), as texts. The three are not in
// the window; a save writes them back as read.
struct Qp6100Settings
{
    Qp6100Fields fields;
    QString driver;
    QString screen;
    QString cardReader;
};

// `[1000SE]`: the device box and the port's fields, and the give-up time of a PIN entry.
struct PinPadSettings
{
    // The range and default of `PinTimeout`, in seconds.
    static constexpr int kDefaultPinTimeoutSeconds = 120;
    static constexpr int kShortestPinTimeoutSeconds = 10;
    static constexpr int kLongestPinTimeoutSeconds = 3600;

    PinPadFields fields;
    // How long a PIN entry without a TIMER of its own waits for the customer.
    int pinTimeoutSeconds = kDefaultPinTimeoutSeconds;
};

// `[WebSocket]`: the door for browser tills, as texts; an empty or "0" port keeps it closed.
struct WebSocketSettings
{
    QString port;
    QString origins;
    // PEM files for wss; a relative path in the file is read as one in the program folder.
    QString certFile;
    QString keyFile;
};

// `[TLS]`: the TCP tills' port inside TLS; an empty or "0" port keeps it closed. It serves the
// box's certificate, the `[WebSocket]` CertFile and KeyFile, resolved as they are.
struct TlsSettings
{
    QString port;
    QString certFile;
    QString keyFile;
};

// `[Metrics]`: empty or 0 keeps the metrics port closed.
struct MetricsSettings
{
    QString port;
};

// `[Simulator]`: nothing when `padControlPort` names no port: the simulator's default.
struct SimulatorSettings
{
    std::optional<quint16> padControlPort;
};

// `[Tills]`: with `RequireKey=Y`, every request but VERSION and STATUS needs a till's key.
struct TillSettings
{
    bool requireKey = false;
};

struct Settings
{
    // The highest COM number a Comm Port may name.
    static constexpr int kHighestComNumber = 255;

    LocalSettings local;
    FtpSettings ftp;
    Qp6100Settings qp6100;
    PinPadSettings pinPad;
    WebSocketSettings webSocket;
    TlsSettings tls;
    MetricsSettings metrics;
    SimulatorSettings simulator;
    TillSettings tills;
    // `[SerialPorts] COMn=/dev/...`: the device of a COM number, where the file names one.
    QMap<int, QString> serialPorts;

    // Log lines about values the file holds that are not used, and what is used instead.
    QStringList complaints;

    // What the window shows and saves.
    WindowFields window() const { return {local.fields, ftp, qp6100.fields, pinPad.fields}; }
    // These settings with the window's fields as `shown`.
    Settings withWindow(const WindowFields& shown) const
    {
        Settings changed = *this;
        changed.local.fields = shown.local;
        changed.ftp = shown.ftp;
        changed.qp6100.fields = shown.qp6100;
        changed.pinPad.fields = shown.pinPad;
        return changed;
    }
};
