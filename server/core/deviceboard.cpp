#include "core/deviceboard.h"

namespace {

bool ask(const std::function<bool()>& probe)
{
    return probe && probe();
}

} // namespace

DeviceBoard::DeviceBoard(Probes pad, Probes pinPad)
{
    m_pad.probes = std::move(pad);
    m_pinPad.probes = std::move(pinPad);
}

DeviceBoard::Facts DeviceBoard::facts(DeviceId device) const
{
    const Device& d = of(device);
    Facts facts;
    facts.ticked = ask(d.probes.ticked);
    // A device whose box is not ticked is neither looked at nor held.
    facts.reachable = facts.ticked && ask(d.probes.reachable);
    facts.busy = facts.ticked && ask(d.probes.busy);
    facts.lastFailed = d.lastFailed;
    facts.lastSeen = d.lastSeen;
    return facts;
}

DeviceStatus DeviceBoard::status(DeviceId device) const
{
    const Facts f = facts(device);
    if (!f.ticked)
        return DeviceStatus::Off;
    // An operation under way has the device open, whatever a probe of its port would say.
    if (f.busy)
        return DeviceStatus::Busy;
    if (!f.reachable)
        return DeviceStatus::Disconnected;
    return DeviceStatus::Ready;
}

void DeviceBoard::recordReply(DeviceId device, ReplyOutcome outcome, qint64 unixSeconds)
{
    // A busy refusal says nothing about the device: the operation holding it answers for it.
    if (outcome == ReplyOutcome::Busy)
        return;
    Device& d = of(device);
    // Nor does the "not set up" answer of a device whose box is not ticked.
    if (!ask(d.probes.ticked))
        return;
    d.lastFailed = outcome == ReplyOutcome::Error;
    if (!d.lastFailed)
        d.lastSeen = unixSeconds;
}

const char* DeviceBoard::statusName(DeviceStatus status)
{
    switch (status) {
    case DeviceStatus::Ready:
        return "ready";
    case DeviceStatus::Busy:
        return "busy";
    case DeviceStatus::Disconnected:
        return "disconnected";
    case DeviceStatus::Off:
        return "off";
    }
    return "off";
}

const char* DeviceBoard::deviceName(DeviceId device)
{
    return device == DeviceId::Pad ? "pad" : "pinpad";
}
