#pragma once

#include <memory>

#include <QObject>
#include <QString>

#include "core/livesettings.h"
#include "core/programfolder.h"
#include "log/activitylog.h"
#include "settings/settingsfile.h"

class Clock;
class CommPortScan;
class EventPump;
class FileChooser;
class PadControlServer;
class PinEntry;
class PinPadDevice;
class PurgeTimer;
class RequestDispatcher;
class RequestServer;
class SerialProbe;
class SignaturePad;
class SimulatedPad;

// The whole server without its window: the live settings, the log, the devices and the
// request service, started and stopped in the program's fixed order.
class PaymentServer : public QObject
{
    Q_OBJECT

public:
    // `pinPad` is the PIN pad device and `serialProbe` the port the serial port scan opens.
    PaymentServer(const ProgramFolder& folder, const Clock& clock, EventPump& pump,
                  PinPadDevice& pinPad, SerialProbe& serialProbe, QObject* parent = nullptr);
    ~PaymentServer() override;

    // Start-up: log, settings, devices, listener, one purge. `simulate` ticks the QP6100 box
    // for this run only. Returns false, with the reason, when the listener cannot start.
    bool start(bool simulate, QString* reason = nullptr);
    // Shut-down: disconnects the pad and logs "Application Closed". Runs once.
    void shutdown();

    // The Purge Log command.
    void mnuToolsLogFilePurgeLog();

    const ProgramFolder& folder() const { return m_folder; }
    ActivityLog& activityLog() { return m_log; }
    LiveSettings& settings() { return m_settings; }
    SettingsFile& settingsFile() { return m_settingsFile; }
    RequestServer& requests() { return *m_requests; }

private:
    ProgramFolder m_folder;
    const Clock& m_clock;
    EventPump& m_pump;
    PinPadDevice& m_pinPadDevice;
    SerialProbe& m_serialProbe;
    ActivityLog m_log;
    LiveSettings m_settings;
    SettingsFile m_settingsFile;
    std::unique_ptr<RequestServer> m_requests;
    // The pad: the simulated QP6100, its control port on 127.0.0.1, the file chooser of Load
    // Script and the pad operations over them, built in this order.
    std::unique_ptr<SimulatedPad> m_simulatedPad;
    std::unique_ptr<PadControlServer> m_padControl;
    std::unique_ptr<FileChooser> m_fileChooser;
    std::unique_ptr<SignaturePad> m_pad;
    std::unique_ptr<PinEntry> m_pinPad;
    std::unique_ptr<CommPortScan> m_commPortScan;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    PurgeTimer* m_purgeTimer = nullptr;
    bool m_started = false;
    bool m_shutDown = false;
};
