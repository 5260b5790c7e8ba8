#pragma once

#include <functional>
#include <memory>

class ActivityLog;
class FileChooser;
class FtpClient;
class PadDriver;
class PinPadDevice;
class SerialProbe;
class TextViewer;
struct Qp6100Settings;

// The outside components the server drives that its host (the program's main, or a test)
// chooses. Each must outlive the server.
struct Devices
{
    // Makes the QP6100's driver from the `[QP6100]` settings (which outlive it) and the log;
    // empty: the simulated pad, which varnel-pad drives through its control port.
    std::function<std::unique_ptr<PadDriver>(const Qp6100Settings&, ActivityLog&)> makePad;
    // The Load Script command's file dialog.
    FileChooser& fileChooser;
    // The viewer that View Log starts on the log.
    TextViewer& textViewer;
    // Stand-ins for tests; null: libcurl for the signature upload, the 1000SE on its serial
    // port, and QSerialPort for the start-up's port scan.
    FtpClient* ftpClient = nullptr;
    PinPadDevice* pinPad = nullptr;
    SerialProbe* serialProbe = nullptr;
};
