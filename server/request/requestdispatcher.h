#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "core/telemetry.h"
#include "request/devicehold.h"
#include "request/operation.h"
#include "request/outcome.h"
#include "request/requestkind.h"

class ActivityLog;
class DeviceBoard;
class PadOperations;
class PadTimeout;
class PinPadOperations;
struct ParsedRequest;
struct RequestValues;

// What one request led to: an outcome at once, an operation that ends later, or neither.
struct Dispatched
{
    std::optional<Outcome> outcome;
    std::unique_ptr<Operation> operation;
    // The customer operation it started, for its timing.
    std::optional<OperationKind> timed;
};

// Runs a parsed request by its kind. One table says for each kind which device it holds while
// it waits, what its TIMER sets and how it starts. One customer operation per device at a
// time: while a swipe or a signature holds the pad, or a PIN entry the PIN pad, another
// request for that device is answered busy at once and changes nothing else, its TIMER
// included; requests that do not wait (VERSION, ABORT, STATUS, a bare TIMER) run at once.
// STATUS changes nothing at all: its TIMER is not applied either.
class RequestDispatcher
{
public:
    // A request's TIMER sets `padTimeout`, which the pad's operations read at every step.
    // STATUS reads each device's state on `devices`; without it STATUS is not served.
    RequestDispatcher(ActivityLog& log, PadTimeout& padTimeout, PadOperations& pad,
                      PinPadOperations& pinPad, const DeviceBoard* devices = nullptr);

    // Runs `request`, which came from `address`; an operation it returns holds its device
    // until its reply has gone out. Throws the Failure of a request that failed to parse,
    // after applying the TIMER read before it (unless it asked for STATUS).
    Dispatched dispatch(const ParsedRequest& request, const QString& address);
    // Whether `request` is a STATUS that is served: a till may poll it every second, so its
    // transaction is logged as one counted line instead of its frame and parse lines.
    bool isStatusPoll(const ParsedRequest& request) const;

    bool padHeld() const { return m_padHold.isHeld(); }
    bool pinPadHeld() const { return m_pinPadHold.isHeld(); }

private:
    // What a request's TIMER does: sets the shared waiting limit, also its own, or nothing (a
    // till asking how the devices are must not cut another customer's wait short).
    enum class TimerUse { SharedLimit, AlsoOwnLimit, Ignored };
    struct Route
    {
        RequestKind kind;
        // The device it holds while it waits; nothing for requests that do not wait.
        std::optional<DeviceId> holds;
        TimerUse timer;
        std::optional<OperationKind> timed;
        Dispatched (RequestDispatcher::*start)(const RequestValues&, std::optional<int> ownTimer);
    };
    static const Route kRoutes[];
    static const Route& routeOf(RequestKind kind);

    // The busy outcome when the route's device is held, having logged the refusal.
    std::optional<Outcome> busyRefusal(const Route& route, const QString& address);
    DeviceHold& holdOf(DeviceId device)
    {
        return device == DeviceId::Pad ? m_padHold : m_pinPadHold;
    }
    std::unique_ptr<Operation> held(std::unique_ptr<Operation> operation, DeviceHold& hold);

    Dispatched startSwipe(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched startSignature(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runPadCommand(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched startPinEntry(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runPinCommand(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runAbort(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runVersion(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runStatus(const RequestValues& request, std::optional<int> ownTimer);
    Dispatched runUnknown(const RequestValues& request, std::optional<int> ownTimer);

    ActivityLog& m_log;
    PadTimeout& m_padTimeout;
    PadOperations& m_pad;
    PinPadOperations& m_pinPad;
    const DeviceBoard* m_devices;
    DeviceHold m_padHold;
    DeviceHold m_pinPadHold;
};
