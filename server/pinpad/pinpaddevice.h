#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "core/failure.h"
#include "core/scheduler.h"

// The 1000SE PIN pad as the server reaches it: serial settings as texts, open, hand over the
// card number and amount, take back the PIN block and its key serial number, close. Opening
// and PIN entry take time: they report their end through a callback, from the event loop and
// never inside the call; nothing waits in place. Any call may also fail at once with Failure.
class PinPadDevice
{
public:
    // The longest card number (ISO card numbers have at most 19 digits) and the longest amount
    // (what one display packet of the 1000SE holds) that the pad takes; GetPinBlock fails
    // with error 5 on longer ones.
    static constexpr int kLongestCardNumber = 19;
    static constexpr int kLongestAmount = 247;

    // How OpenPad ended: true = ready; false = ErrorCode and ErrorDescription say why.
    using Opened = std::function<void(bool ready)>;
    // How GetPinBlock ended: the PIN block (empty when PIN entry was cancelled), or the
    // failure that ended it.
    struct PinBlockResult
    {
        QString pinBlock;
        std::optional<Failure> failure;
    };
    using PinBlockTaken = std::function<void(const PinBlockResult&)>;

    virtual ~PinPadDevice() = default;

    // The Comm Port text: a COM number ("3" or "COM3") or a device path.
    virtual void setPort(const QString& port) = 0;
    virtual QString Port() const = 0;
    virtual void setBaudRate(const QString& baudRate) = 0;
    virtual QString BaudRate() const = 0;
    virtual void setDataBits(const QString& dataBits) = 0;
    virtual QString DataBits() const = 0;
    virtual void setParity(const QString& parity) = 0;

    // Opens the port with the four settings and checks that the pad answers; `opened` runs
    // once with the outcome.
    virtual void OpenPad(Opened opened) = 0;
    // Why the last OpenPad failed: a number and a sentence naming the port and the reason.
    virtual qint32 ErrorCode() const = 0;
    virtual QString ErrorDescription() const = 0;

    virtual void setCardNumber(const QString& cardNumber) = 0;
    virtual void setAmount(const QString& amount) = 0;
    // How many seconds the next GetPinBlock waits for the customer before it cancels PIN
    // entry on the pad.
    virtual void setPinTimeout(int seconds) = 0;
    // Has the customer key the PIN; `taken` runs once with the PIN block, empty when PIN
    // entry was cancelled (by the customer, the time limit or the stop condition).
    virtual void GetPinBlock(PinBlockTaken taken) = 0;
    // Why the last GetPinBlock gave an empty PIN block, for the log, free of card and PIN
    // data: "customer cancelled", "no answer in N s" or "client gone".
    virtual QString CancelReason() const = 0;
    // The next GetPinBlock cancels PIN entry on the pad at its next step and gives an empty
    // PIN block once `stop` holds (the client that asked has gone). A device that answers at
    // once may ignore it.
    virtual void setStopWhen(StopWhen stop) { (void)stop; }
    // The key serial number of the last PIN block, empty when there is none.
    virtual QString Ksn() const = 0;
    // Releases the pad; leaves alone a pad that an OpenPad or GetPinBlock under way holds.
    virtual void ClosePad() = 0;
    // The program is closing: ends the OpenPad or GetPinBlock under way at once, without
    // running its callback, and releases the pad.
    virtual void Abandon() = 0;
};
