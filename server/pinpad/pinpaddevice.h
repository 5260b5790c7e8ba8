#pragma once

#include <QString>

#include "core/eventpump.h"

// The 1000SE PIN pad as the server reaches it: serial settings as texts, open, hand over the
// card number and amount, take back the PIN block and its key serial number, close. Any call
// may fail outright with Failure.
class PinPadDevice
{
public:
    virtual ~PinPadDevice() = default;

    // The Comm Port text: a COM number ("3" or "COM3") or a device path.
    virtual void setPort(const QString& port) = 0;
    virtual QString Port() const = 0;
    virtual void setBaudRate(const QString& baudRate) = 0;
    virtual QString BaudRate() const = 0;
    virtual void setDataBits(const QString& dataBits) = 0;
    virtual QString DataBits() const = 0;
    virtual void setParity(const QString& parity) = 0;

    // Opens the port with the four settings and checks that the pad answers; true = ready.
    virtual bool OpenPad() = 0;
    // Why the last OpenPad failed: a number and a sentence naming the port and the reason.
    virtual qint32 ErrorCode() const = 0;
    virtual QString ErrorDescription() const = 0;

    virtual void setCardNumber(const QString& cardNumber) = 0;
    virtual void setAmount(const QString& amount) = 0;
    // Has the customer key the PIN; returns the PIN block, empty when PIN entry was cancelled.
    virtual QString GetPinBlock() = 0;
    // The next GetPinBlock cancels PIN entry on the pad and returns empty once `stop` holds
    // (the client that asked has gone). A device that answers at once may ignore it.
    virtual void setStopWhen(StopWhen stop) { (void)stop; }
    // The key serial number of the last PIN block, empty when there is none.
    virtual QString Ksn() const = 0;
    // Releases the pad.
    virtual void ClosePad() = 0;
};
