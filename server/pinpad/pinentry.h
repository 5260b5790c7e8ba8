#pragma once

#include <QMetaObject>

#include "request/deviceoperations.h"

class ActivityLog;
class LiveSettings;
class PinPadDevice;
class ReplyChannel;

// PIN entry on the 1000SE: the request's operation, the enabled check and the device box's
// click handler, over one PIN pad device.
class PinEntry final : public PinPadOperations
{
public:
    // Runs the device box's handler whenever the box changes or is clicked.
    PinEntry(PinPadDevice& device, LiveSettings& settings, ActivityLog& log, ReplyChannel& replies);
    ~PinEntry() override;
    PinEntry(const PinEntry&) = delete;
    PinEntry& operator=(const PinEntry&) = delete;

    // Sends exactly one reply: the PIN block and KSN, the cancel, or an error.
    void pinPad1000se_get_pin(const QString& creditCard, const QString& total) override;
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
    ReplyChannel& m_replies;
    QMetaObject::Connection m_boxConnection;
};
