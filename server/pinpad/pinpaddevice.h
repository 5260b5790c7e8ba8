#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "core/failure.h"

// The 1000SE PIN pad as the server reaches it: open with the line's settings, ask for a PIN
// for a card number and amount, take back the PIN block and its key serial number, close. Opening
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

    // The line's settings as the Comm Port fields give them, as texts.
    struct LineSettings
    {
        // A COM number ("3" or "COM3") or a device path.
        QString port;
        QString baudRate;
        QString dataBits;
        QString parity;
    };
    // What the customer is asked to key a PIN for, and for how long.
    struct PinPrompt
    {
        QString cardNumber;
        QString amount;
        // Seconds the entry waits for the customer before it cancels PIN entry on the pad.
        int timeoutSeconds = 120;
    };

    virtual ~PinPadDevice() = default;

    // Opens the port with `line` and checks that the pad answers; `opened` runs once with
    // the outcome.
    virtual void OpenPad(const LineSettings& line, Opened opened) = 0;
    // Why the last OpenPad failed: a number and a sentence naming the port and the reason.
    virtual qint32 ErrorCode() const = 0;
    virtual QString ErrorDescription() const = 0;

    // Shows the amount and has the customer key the PIN; `taken` runs once with the PIN block,
    // empty when PIN entry was cancelled (by the customer, the time limit or cancelEntry()).
    virtual void GetPinBlock(const PinPrompt& prompt, PinBlockTaken taken) = 0;
    // Why the last GetPinBlock gave an empty PIN block, for the log, free of card and PIN
    // data: "customer cancelled", "no answer in N s" or "client gone".
    virtual QString CancelReason() const = 0;
    // Nobody waits for the PIN any more: the GetPinBlock under way cancels PIN entry on the
    // pad as soon as the pad is asked, and gives an empty PIN block ("client gone").
    virtual void cancelEntry() = 0;
    // The key serial number of the last PIN block, empty when there is none.
    virtual QString Ksn() const = 0;
    // Releases the pad; leaves alone a pad that an OpenPad or GetPinBlock under way holds.
    virtual void ClosePad() = 0;
    // The program is closing: ends the OpenPad or GetPinBlock under way at once, without
    // running its callback, and releases the pad.
    virtual void Abandon() = 0;
};
