#include "request/requestdispatcher.h"

#include "core/deviceboard.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/requestparser.h"
#include "request/requestvalues.h"

namespace {

// An operation that holds its device from its start until its reply has gone out.
class HeldOperation final : public Operation
{
public:
    HeldOperation(std::unique_ptr<Operation> inner, DeviceHold& hold)
        : m_inner(std::move(inner)), m_hold(hold)
    {
        m_hold.take();
    }
    ~HeldOperation() override { m_hold.release(); }

    void start(Finished finished) override { m_inner->start(std::move(finished)); }
    void clientGone() override { m_inner->clientGone(); }
    void afterReply() override
    {
        m_inner->afterReply();
        m_hold.release();
    }
    void close() override
    {
        m_inner->close();
        m_hold.release();
    }

private:
    std::unique_ptr<Operation> m_inner;
    DeviceHold& m_hold;
};

} // namespace

const RequestDispatcher::Route RequestDispatcher::kRoutes[] = {
    {RequestKind::Swipe, DeviceId::Pad, TimerUse::SharedLimit, OperationKind::Swipe,
     &RequestDispatcher::startSwipe},
    {RequestKind::Signature, DeviceId::Pad, TimerUse::SharedLimit, OperationKind::Signature,
     &RequestDispatcher::startSignature},
    {RequestKind::PadCommand, std::nullopt, TimerUse::SharedLimit, std::nullopt,
     &RequestDispatcher::runPadCommand},
    {RequestKind::PinEntry, DeviceId::PinPad, TimerUse::AlsoOwnLimit, OperationKind::Pin,
     &RequestDispatcher::startPinEntry},
    {RequestKind::PinCommand, std::nullopt, TimerUse::SharedLimit, std::nullopt,
     &RequestDispatcher::runPinCommand},
    {RequestKind::Abort, std::nullopt, TimerUse::SharedLimit, std::nullopt,
     &RequestDispatcher::runAbort},
    {RequestKind::Version, std::nullopt, TimerUse::SharedLimit, std::nullopt,
     &RequestDispatcher::runVersion},
    {RequestKind::Status, std::nullopt, TimerUse::Ignored, std::nullopt,
     &RequestDispatcher::runStatus},
    // The request service pairs a till itself, since it knows how the till is connected; a
    // PAIR that fails to parse gets here, and its TIMER is not the pad's business.
    {RequestKind::Pair, std::nullopt, TimerUse::Ignored, std::nullopt,
     &RequestDispatcher::runUnknown},
    {RequestKind::Unknown, std::nullopt, TimerUse::SharedLimit, std::nullopt,
     &RequestDispatcher::runUnknown},
};

const RequestDispatcher::Route& RequestDispatcher::routeOf(RequestKind kind)
{
    for (const Route& route : kRoutes)
        if (route.kind == kind)
            return route;
    return routeOf(RequestKind::Unknown);
}

RequestDispatcher::RequestDispatcher(ActivityLog& log, PadTimeout& padTimeout, PadOperations& pad,
                                     PinPadOperations& pinPad, const DeviceBoard* devices)
    : m_log(log), m_padTimeout(padTimeout), m_pad(pad), m_pinPad(pinPad), m_devices(devices)
{
}

Dispatched RequestDispatcher::dispatch(const ParsedRequest& request, const QString& address)
{
    // A request that failed to parse is routed by the values read before the failing piece.
    const Route& route = routeOf(classify(request.values));
    if (request.outcome != ParsedRequest::Outcome::Parsed) {
        // A TIMER read before the end still counts.
        if (request.padTimeout && route.timer != TimerUse::Ignored)
            m_padTimeout.setSeconds(*request.padTimeout);
        if (request.outcome == ParsedRequest::Outcome::Failed)
            throw Failure(request.failureCode);
        return {};
    }
    // A request refused as busy changes nothing, its TIMER included.
    if (std::optional<Outcome> busy = busyRefusal(route, address))
        return {std::move(busy), nullptr, std::nullopt};
    std::optional<int> ownTimer;
    if (request.padTimeout && route.timer != TimerUse::Ignored) {
        m_padTimeout.setSeconds(*request.padTimeout);
        if (route.timer == TimerUse::AlsoOwnLimit)
            ownTimer = *request.padTimeout;
    }
    Dispatched dispatched = (this->*route.start)(request.values, ownTimer);
    if (dispatched.operation)
        dispatched.timed = route.timed;
    return dispatched;
}

bool RequestDispatcher::isStatusPoll(const ParsedRequest& request) const
{
    return m_devices && request.outcome == ParsedRequest::Outcome::Parsed &&
           classify(request.values) == RequestKind::Status;
}

std::optional<Outcome> RequestDispatcher::busyRefusal(const Route& route, const QString& address)
{
    if (!route.holds || !holdOf(*route.holds).isHeld())
        return std::nullopt;
    const bool pad = *route.holds == DeviceId::Pad;
    // A pad whose box is no longer ticked answers that it is not set up instead.
    if (pad && !m_pad.pad_enabled(false))
        return std::nullopt;
    m_log.log(QStringLiteral("Socket: DataArrival ") +
              (pad ? QStringLiteral("QP6100 Pad Busy") : QStringLiteral("1000SE PIN Pad Busy")) +
              QStringLiteral(" ip=[") + address + QLatin1Char(']'));
    return outcome::Busy{*route.holds};
}

std::unique_ptr<Operation> RequestDispatcher::held(std::unique_ptr<Operation> operation,
                                                   DeviceHold& hold)
{
    return std::make_unique<HeldOperation>(std::move(operation), hold);
}

Dispatched RequestDispatcher::startSwipe(const RequestValues&, std::optional<int>)
{
    if (!m_pad.pad_enabled(false))
        return {outcome::PadNotSetUp{}, nullptr, std::nullopt};
    return {std::nullopt, held(m_pad.qp6100_get_swipe(), m_padHold), std::nullopt};
}

Dispatched RequestDispatcher::startSignature(const RequestValues& request, std::optional<int>)
{
    if (!m_pad.pad_enabled(false))
        return {outcome::PadNotSetUp{}, nullptr, std::nullopt};
    return {std::nullopt,
            held(m_pad.qp6100_get_signature(SignatureRequest{request.sigFile, request.account,
                                                             request.name, request.total,
                                                             request.doFtp, request.ftpPath}),
                 m_padHold),
            std::nullopt};
}

Dispatched RequestDispatcher::runPadCommand(const RequestValues& request, std::optional<int>)
{
    if (!m_pad.pad_enabled(false))
        return {outcome::PadNotSetUp{}, nullptr, std::nullopt};
    const auto logUnknown = [&] {
        if (request.action != QLatin1String("3"))
            m_log.log(QStringLiteral("Socket: DataArrival QP6100 No Action(") + request.action +
                      QLatin1Char(')'));
    };
    // The pad variables belong to the operation that holds the pad: they stay as they are.
    if (m_padHold.isHeld()) {
        logUnknown();
        return {};
    }
    m_pad.clear_padVars();
    logUnknown();
    m_pad.clear_padVars();
    return {};
}

Dispatched RequestDispatcher::startPinEntry(const RequestValues& request,
                                            std::optional<int> ownTimer)
{
    return {
        std::nullopt,
        held(m_pinPad.pinPad1000se_get_pin(PinRequest{request.creditCard, request.total, ownTimer}),
             m_pinPadHold),
        std::nullopt};
}

Dispatched RequestDispatcher::runPinCommand(const RequestValues& request, std::optional<int>)
{
    m_log.log(QStringLiteral("Socket: DataArrival 1000SE No Action(") + request.action +
              QLatin1Char(')'));
    return {};
}

Dispatched RequestDispatcher::runAbort(const RequestValues&, std::optional<int>)
{
    m_pad.pad_welcome();
    return {};
}

Dispatched RequestDispatcher::runVersion(const RequestValues&, std::optional<int>)
{
    return {outcome::Version{}, nullptr, std::nullopt};
}

Dispatched RequestDispatcher::runStatus(const RequestValues& request, std::optional<int> ownTimer)
{
    // Answered at once, also while the devices are held, so a till can grey out a button.
    if (!m_devices)
        return runUnknown(request, ownTimer);
    return {outcome::Status{DeviceBoard::statusName(m_devices->status(DeviceId::Pad)),
                            DeviceBoard::statusName(m_devices->status(DeviceId::PinPad))},
            nullptr, std::nullopt};
}

Dispatched RequestDispatcher::runUnknown(const RequestValues&, std::optional<int>)
{
    m_log.log(QStringLiteral("Socket: DataArrival No TransType"));
    return {};
}
