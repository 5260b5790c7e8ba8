#pragma once

class FileChooser;
class FtpClient;
class PadDriver;
class PinPadDevice;
class SerialProbe;
class TextViewer;

// The outside components the server drives, chosen by the program's main (or a test) and
// handed to the composition root. Each must outlive the server.
struct Devices
{
    // The QP6100 signature pad.
    PadDriver& padDriver;
    // The Load Script command's file dialog.
    FileChooser& fileChooser;
    // The viewer that View Log starts on the log.
    TextViewer& textViewer;
    // The FTP client the signature upload sends through.
    FtpClient& ftpClient;
    // The 1000SE PIN pad.
    PinPadDevice& pinPad;
    // The serial port that the start-up's port scan opens.
    SerialProbe& serialProbe;
};
