#pragma once

#include <QString>

// The settings window's fields, grouped by the section of the settings file that "Save
// Settings" writes them to. The file's other settings are not the window's and are not here.

// `[Local]`: the port the TCP door listens on (the file's default is the settings layer's).
struct LocalFields
{
    QString sockport;

    friend bool operator==(const LocalFields&, const LocalFields&) = default;
};

// `[FTP]`, all of it: where signature pictures are uploaded.
struct FtpSettings
{
    // The server as the settings give it, with or without "ftp://" in front.
    QString url;
    QString user;
    QString password;

    friend bool operator==(const FtpSettings&, const FtpSettings&) = default;
};

// `[QP6100]`: the device box, as a LiveSettings::CheckState.
struct Qp6100Fields
{
    int device = 0;

    friend bool operator==(const Qp6100Fields&, const Qp6100Fields&) = default;
};

// `[1000SE]`: the device box (a LiveSettings::CheckState) and the port's five fields, as texts.
struct PinPadFields
{
    int device = 0;
    QString commPort;
    QString baudRate;
    QString parity;
    QString dataBits;
    QString encryption;

    friend bool operator==(const PinPadFields&, const PinPadFields&) = default;
};

// Everything the window shows and saves.
struct WindowFields
{
    LocalFields local;
    FtpSettings ftp;
    Qp6100Fields qp6100;
    PinPadFields pinPad;

    friend bool operator==(const WindowFields&, const WindowFields&) = default;
};
