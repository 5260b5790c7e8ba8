#pragma once

#include <QMetaObject>

#include "request/deviceoperations.h"

class ActivityLog;
class LiveSettings;
class PinPadDevice;

// PIN entry on the 1000SE: the request's operation, the enabled check and the device box's
// click handler, over one PIN pad device.
class PinEntry final : public PinPadOperations
{
public:
    // `pinTimeoutSeconds` is how long an entry without a TIMER of its own waits for the
    // customer (`[1000SE] PinTimeout`). Runs the device box's handler whenever the box changes
    // or is clicked.
    PinEntry(PinPadDevice& device, LiveSettings& settings, ActivityLog& log, int pinTimeoutSeconds);
    ~PinEntry() override;
    PinEntry(const PinEntry&) = delete;
    PinEntry& operator=(const PinEntry&) = delete;

    // Ends with exactly one reply: the PIN block and KSN, the cancel, or an error; with none
    // when the client has gone.
    std::unique_ptr<Operation> pinPad1000se_get_pin(const PinRequest& request) override;
    // True when the 1000SE box is ticked; logs "1000SE: Device is Not Enabled" otherwise
    // when asked to.
    bool pinpad_enabled(bool logIfDisabled);
    // The device box's click handler: the five parameter fields accept input while it is
    // ticked. Opens nothing; the pad is opened per request.
    void chk1000SEDevice_Click();

private:
    PinPadDevice& m_device;
    LiveSettings& m_settings;
    ActivityLog& m_log;
    int m_pinTimeoutSeconds;
    QMetaObject::Connection m_boxConnection;
};
