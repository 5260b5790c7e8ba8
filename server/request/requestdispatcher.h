#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "core/scheduler.h"
#include "request/devicehold.h"
#include "request/operation.h"
#include "request/reply.h"

class ActivityLog;
class DeviceBoard;
class PadOperations;
class PadTimeout;
class PinPadOperations;
struct RequestValues;

// What one request led to: a reply at once, an operation that replies later, or neither.
struct Dispatched
{
    std::optional<Reply> reply;
    std::unique_ptr<Operation> operation;
};

// Chooses the operation a parsed request names, by its TRANS and ACTION values. One customer
// operation per device at a time: while a swipe or a signature holds the pad, or a PIN entry
// the PIN pad, another request for that device is answered busy at once and changes nothing
// else; requests that do not wait (VERSION, ABORT, a bare TIMER) run at once.
class RequestDispatcher
{
public:
    // A request's TIMER sets `padTimeout`, which the pad's operations read at every step.
    // STATUS reads each device's state on `devices`; without it STATUS is not served.
    RequestDispatcher(ActivityLog& log, PadTimeout& padTimeout, PadOperations& pad,
                      PinPadOperations& pinPad, const DeviceBoard* devices = nullptr);

    // The busy reply when `request` asks for a device that an operation holds, having logged
    // the refusal with `address`; nothing otherwise.
    std::optional<Reply> busyRefusal(const RequestValues& request, const QString& address);
    // Applies the request's TIMER (`timer`, when it has one) and runs the request; an
    // operation it returns holds its device until its reply has gone out. `clientGone` holds
    // once the client that asked has gone.
    Dispatched dispatch(const RequestValues& request, std::optional<qint16> timer,
                        StopWhen clientGone);
    // Applies a TIMER value that came without a request to run.
    void applyTimer(std::optional<qint16> timer);

    bool padHeld() const { return m_padHold.isHeld(); }
    bool pinPadHeld() const { return m_pinPadHold.isHeld(); }

private:
    Dispatched dispatchPad(const RequestValues& request, StopWhen clientGone);
    Dispatched dispatchPinPad(const RequestValues& request, std::optional<qint16> timer,
                              StopWhen clientGone);

    ActivityLog& m_log;
    PadTimeout& m_padTimeout;
    PadOperations& m_pad;
    PinPadOperations& m_pinPad;
    const DeviceBoard* m_devices;
    DeviceHold m_padHold;
    DeviceHold m_pinPadHold;
};
