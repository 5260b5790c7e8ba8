#pragma once

#include <optional>
#include <variant>

#include <QString>

#include "core/telemetry.h"

// How a request ended, as the operation or the service that ran it says. Only the reply
// formatter turns an outcome into text; telemetry, health and the log read the outcome itself.
// Each kind names its device (`kDevice`, or a `device` member) and, when it is not a success,
// how it counts (`kEnding`).
namespace outcome {

// The service's version.
struct Version
{
};
// Each device's state, as a till sees it ("ready", "busy", "disconnected", "off").
struct Status
{
    const char* pad;
    const char* pinPad;
};
// The card's two tracks, as the pad read them.
struct CardRead
{
    static constexpr DeviceId kDevice = DeviceId::Pad;
    QString track1;
    QString track2;
};
// The signature picture saved (and uploaded when asked) at `sigFile`.
struct SignatureStored
{
    static constexpr DeviceId kDevice = DeviceId::Pad;
    QString sigFile;
    // Its upload has not arrived yet: the picture waits in the outbox and is tried again.
    bool uploadQueued = false;
};
// The PIN block and its key serial number, as the PIN pad gave them.
struct PinTaken
{
    static constexpr DeviceId kDevice = DeviceId::PinPad;
    QString pinBlock;
    QString ksn;
};
// The pad did not get what it waited for within the limit.
struct TimedOut
{
    static constexpr DeviceId kDevice = DeviceId::Pad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Timeout;
};
// PIN entry was cancelled: by the customer, or nobody keyed a PIN in time.
struct Cancelled
{
    static constexpr DeviceId kDevice = DeviceId::PinPad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Cancelled;
};
// Another operation holds the device.
struct Busy
{
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Busy;
    DeviceId device;
};
// A pad request while the QP6100 box is not ticked.
struct PadNotSetUp
{
    static constexpr DeviceId kDevice = DeviceId::Pad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
};
// A signature or a PIN entry while the device's box is not ticked.
struct NotEnabled
{
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
    DeviceId device;
};
// The device cannot take the request; `text` says why in the till's words.
struct DeviceError
{
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
    DeviceId device;
    QString text;
};
// A PIN request without a card number or a total.
struct PinValuesMissing
{
    static constexpr DeviceId kDevice = DeviceId::PinPad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
};
// The PIN pad could not be opened.
struct PinPadNotOpened
{
    static constexpr DeviceId kDevice = DeviceId::PinPad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
};
// The signature picture could not be saved or uploaded.
struct SignatureNotStored
{
    static constexpr DeviceId kDevice = DeviceId::Pad;
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
    // False when the pad did its part and only the upload failed: the network's failure.
    bool padFault = true;
};
// The operation ended on a caught failure with this number.
struct Failed
{
    static constexpr ReplyOutcome kEnding = ReplyOutcome::Error;
    OperationKind operation;
    int code;

    DeviceId device() const
    {
        return operation == OperationKind::Pin ? DeviceId::PinPad : DeviceId::Pad;
    }
};
// A request that needs a till's key came without a valid one; answered in the root element
// of the device it asked for. It reached no device, so it names none.
struct NotAuthorised
{
    DeviceId root;
};
// A waiting till was paired: its name, and the key it sends from now on.
struct Paired
{
    QString till;
    QString key;
};
// A PAIR that got no key.
struct PairingRefused
{
    enum class Reason {
        WrongCode,
        Locked,   // too many wrong codes in a row: no pairing for a while
        NeedsTls, // the key would cross the network in clear
        TryAgain, // the box could not register the till just now
    };
    Reason reason;
};
// The client went away: nobody takes a reply.
struct ClientGone
{
};

} // namespace outcome

using Outcome =
    std::variant<outcome::Version, outcome::Status, outcome::CardRead, outcome::SignatureStored,
                 outcome::PinTaken, outcome::TimedOut, outcome::Cancelled, outcome::Busy,
                 outcome::PadNotSetUp, outcome::NotEnabled, outcome::DeviceError,
                 outcome::PinValuesMissing, outcome::PinPadNotOpened, outcome::SignatureNotStored,
                 outcome::Failed, outcome::NotAuthorised, outcome::Paired, outcome::PairingRefused,
                 outcome::ClientGone>;

// The device an outcome speaks for; nothing for the service's own answers and a gone client.
std::optional<DeviceId> deviceOf(const Outcome& outcome);
// How a device's operation ended, as telemetry and health count it.
ReplyOutcome endingOf(const Outcome& outcome);
// Whether an ending that is not a success is the device's own failure (not the network's).
bool deviceAtFault(const Outcome& outcome);
