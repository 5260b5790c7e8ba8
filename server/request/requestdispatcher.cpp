#include "request/requestdispatcher.h"

#include <functional>

#include "core/deviceboard.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "request/deviceoperations.h"
#include "request/replytext.h"
#include "request/requestvalues.h"

namespace {

bool isPadWait(const RequestValues& request)
{
    return request.action == QLatin1String("1") || request.action == QLatin1String("2");
}

// An operation that holds its device from its start until its reply has gone out, then runs
// the device's tidying.
class HeldOperation final : public Operation
{
public:
    HeldOperation(std::unique_ptr<Operation> inner, DeviceHold& hold,
                  std::function<void()> tidy = {})
        : m_inner(std::move(inner)), m_hold(hold), m_tidy(std::move(tidy))
    {
        m_hold.take();
    }
    ~HeldOperation() override { m_hold.release(); }

    void start(Finished finished) override { m_inner->start(std::move(finished)); }
    void afterReply() override
    {
        m_inner->afterReply();
        if (m_tidy)
            m_tidy();
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
    std::function<void()> m_tidy;
};

} // namespace

RequestDispatcher::RequestDispatcher(ActivityLog& log, PadTimeout& padTimeout, PadOperations& pad,
                                     PinPadOperations& pinPad, const DeviceBoard* devices)
    : m_log(log), m_padTimeout(padTimeout), m_pad(pad), m_pinPad(pinPad), m_devices(devices)
{
}

std::optional<Reply> RequestDispatcher::busyRefusal(const RequestValues& request,
                                                    const QString& address)
{
    QString device;
    QString what;
    Reply reply;
    if (request.transType == QLatin1String("QP6100") && m_padHold.isHeld() && isPadWait(request) &&
        m_pad.pad_enabled(false)) {
        device = QStringLiteral("QP6100");
        what = QStringLiteral("Pad Busy");
        reply.xml = padBusyReply();
    } else if (request.transType == QLatin1String("1000SE") && m_pinPadHold.isHeld() &&
               request.action == QLatin1String("3")) {
        device = QStringLiteral("1000SE");
        what = QStringLiteral("PIN Pad Busy");
        reply.xml = pinPadBusyReply();
    } else {
        return std::nullopt;
    }
    m_log.log(QStringLiteral("Socket: DataArrival ") + device + QLatin1Char(' ') + what +
              QStringLiteral(" ip=[") + address + QLatin1Char(']'));
    return reply;
}

void RequestDispatcher::applyTimer(std::optional<qint16> timer)
{
    if (timer)
        m_padTimeout.setSeconds(*timer);
}

Dispatched RequestDispatcher::dispatch(const RequestValues& request, std::optional<qint16> timer,
                                       StopWhen clientGone)
{
    applyTimer(timer);
    const QString& trans = request.transType;
    if (trans == QLatin1String("QP6100"))
        return dispatchPad(request, std::move(clientGone));
    if (trans == QLatin1String("1000SE"))
        return dispatchPinPad(request, timer, std::move(clientGone));
    if (trans == QLatin1String("ABORT")) {
        m_pad.pad_welcome();
        return {};
    }
    if (trans == QLatin1String("VERSION"))
        return {Reply{versionReply()}, nullptr};
    // Answered at once, also while the devices are held, so a till can grey out a button.
    if (trans == QLatin1String("STATUS") && m_devices)
        return {Reply{statusReply(DeviceBoard::statusName(m_devices->status(DeviceId::Pad)),
                                  DeviceBoard::statusName(m_devices->status(DeviceId::PinPad)))},
                nullptr};
    m_log.log(QStringLiteral("Socket: DataArrival No TransType"));
    return {};
}

Dispatched RequestDispatcher::dispatchPad(const RequestValues& request, StopWhen clientGone)
{
    if (!m_pad.pad_enabled(false))
        return {Reply{padNotSetupReply()}, nullptr};
    const bool swipe = request.action == QLatin1String("1");
    const bool signature = request.action == QLatin1String("2");
    const bool known = swipe || signature || request.action == QLatin1String("3");
    const auto logUnknown = [&] {
        if (!known)
            m_log.log(QStringLiteral("Socket: DataArrival QP6100 No Action(") + request.action +
                      QLatin1Char(')'));
    };
    // The pad variables belong to the operation that holds the pad: they stay as they are.
    if (m_padHold.isHeld()) {
        logUnknown();
        return {};
    }
    m_pad.clear_padVars();
    if (!swipe && !signature) {
        logUnknown();
        m_pad.clear_padVars();
        return {};
    }
    std::unique_ptr<Operation> operation;
    if (swipe) {
        operation = m_pad.qp6100_get_swipe(std::move(clientGone));
    } else {
        m_pad.qp6100_delete_signature(request.sigFile);
        m_pad.set_account_var(request.account);
        m_pad.set_fullname_var(request.name);
        m_pad.setVar(request.total);
        operation = m_pad.qp6100_get_signature(request.sigFile, request.doFtp, request.ftpPath,
                                               std::move(clientGone));
    }
    return {std::nullopt, std::make_unique<HeldOperation>(std::move(operation), m_padHold,
                                                          [this] { m_pad.clear_padVars(); })};
}

Dispatched RequestDispatcher::dispatchPinPad(const RequestValues& request,
                                             std::optional<qint16> timer, StopWhen clientGone)
{
    if (request.action != QLatin1String("3")) {
        m_log.log(QStringLiteral("Socket: DataArrival 1000SE No Action(") + request.action +
                  QLatin1Char(')'));
        return {};
    }
    std::optional<int> ownTimer;
    if (timer)
        ownTimer = *timer;
    return {std::nullopt, std::make_unique<HeldOperation>(
                              m_pinPad.pinPad1000se_get_pin(request.creditCard, request.total,
                                                            ownTimer, std::move(clientGone)),
                              m_pinPadHold)};
}
