#pragma once

#include "request/deviceoperations.h"

class ActivityLog;
class LiveSettings;
class ReplyChannel;

// The PIN pad side while no PIN pad device is built into the server: it keeps the device
// box's rules (the enabled check, the five parameter fields enabled while the box is ticked)
// and answers a PIN request that passes them with the pad-failed error.
class PinPadUnavailable final : public PinPadOperations
{
public:
    PinPadUnavailable(ActivityLog& log, LiveSettings& settings, ReplyChannel& replies);

    void pinPad1000se_get_pin(const QString& creditCard, const QString& total) override;
    // True when the 1000SE box is ticked; logs "1000SE: Device is Not Enabled" otherwise
    // when asked to.
    bool pinpad_enabled(bool logIfDisabled);
    // The device box's click handler: the parameter fields accept input while it is ticked.
    void chk1000SEDevice_Click();

private:
    ActivityLog& m_log;
    LiveSettings& m_settings;
    ReplyChannel& m_replies;
};
