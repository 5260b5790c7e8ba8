#pragma once

#include <functional>

#include <QtGlobal>

#include "core/telemetry.h"

// What a till and a fleet see of a device: "off" while its box is not ticked, "disconnected"
// while ticked but its port does not open, "busy" while an operation holds it, else "ready".
enum class DeviceStatus { Ready, Busy, Disconnected, Off };

// The state of the two devices, read at the moment it is asked for. The composition root
// tells it how to read each device's box, port and hold; the watcher records the answers.
class DeviceBoard
{
public:
    // How one device's state is read; a missing function reads as false.
    struct Probes
    {
        std::function<bool()> ticked;
        // Whether the device answers, or its port opens.
        std::function<bool()> reachable;
        // Whether an operation holds the device.
        std::function<bool()> busy;
    };
    // One device's state.
    struct Facts
    {
        bool ticked = false;
        bool reachable = false;
        bool busy = false;
        // Its last operation ended in an error (not a time-out, a cancel or a busy refusal).
        bool lastFailed = false;
        // Unix time of its last answer, 0 when none yet.
        qint64 lastSeen = 0;
    };

    DeviceBoard() = default;
    DeviceBoard(Probes pad, Probes pinPad);

    Facts facts(DeviceId device) const;
    DeviceStatus status(DeviceId device) const;
    // A device's operation ended with `outcome` at `unixSeconds`.
    void recordReply(DeviceId device, ReplyOutcome outcome, qint64 unixSeconds);

    static const char* statusName(DeviceStatus status);
    // "pad" or "pinpad", as the metrics and the health answer name a device.
    static const char* deviceName(DeviceId device);

private:
    struct Device
    {
        Probes probes;
        bool lastFailed = false;
        qint64 lastSeen = 0;
    };
    const Device& of(DeviceId device) const { return device == DeviceId::Pad ? m_pad : m_pinPad; }
    Device& of(DeviceId device) { return device == DeviceId::Pad ? m_pad : m_pinPad; }

    Device m_pad;
    Device m_pinPad;
};
