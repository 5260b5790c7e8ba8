#pragma once

#include "request/devicehold.h"

class ActivityLog;
class QString;
class PadOperations;
class PinPadOperations;
class ReplyChannel;
struct RequestValues;

// Chooses the operation a parsed request names, by its TRANS and ACTION values. One customer
// operation per device at a time: while a swipe or a signature holds the pad, or a PIN entry
// the PIN pad, another request for that device is answered busy at once; requests that do not
// wait (VERSION, ABORT, TIMER) still run.
class RequestDispatcher
{
public:
    RequestDispatcher(ActivityLog& log, ReplyChannel& replies, PadOperations& pad,
                      PinPadOperations& pinPad);

    void dispatch(const RequestValues& request);

private:
    void dispatchPad(const RequestValues& request);
    void dispatchPinPad(const RequestValues& request);
    // Logs the refusal with the requester's address and answers `xml`.
    void refuseBusy(const QString& device, const QString& what, const QString& xml);
    void reply(const QString& xml);

    ActivityLog& m_log;
    ReplyChannel& m_replies;
    PadOperations& m_pad;
    PinPadOperations& m_pinPad;
    DeviceHold m_padHold;
    DeviceHold m_pinPadHold;
};
