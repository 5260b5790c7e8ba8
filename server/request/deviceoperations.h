#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "request/operation.h"

// What a signature request hands the pad: where the picture goes, what the pad shows beside
// it, and where it is uploaded when asked.
struct SignatureRequest
{
    QString sigFile;
    QString account;
    QString name;
    QString total;
    bool doFtp = false;
    QString ftpPath;
};

// The signature pad's operations as the request service dispatches them. The swipe and the
// signature come back as operations under way; the service starts them and sends their reply.
class PadOperations
{
public:
    virtual ~PadOperations() = default;
    // True when the QP6100 device box is ticked; logs "QP6100: Device is Not Enabled"
    // when it is not and `logIfDisabled` is set.
    virtual bool pad_enabled(bool logIfDisabled) = 0;
    virtual void clear_padVars() = 0;
    // Clears the pad's variables and returns the swipe, ready to start.
    virtual std::unique_ptr<Operation> qp6100_get_swipe() = 0;
    // Clears the pad's variables, removes an earlier picture at the request's path, writes
    // the account, name and total to the pad and returns the signature, ready to start.
    virtual std::unique_ptr<Operation> qp6100_get_signature(const SignatureRequest& request) = 0;
    // Shows the welcome form when the pad is enabled; leaves a disabled pad alone.
    virtual void pad_welcome() = 0;
};

// What a PIN request hands the PIN pad.
struct PinRequest
{
    QString creditCard;
    QString total;
    // The TIMER of this request itself, when it has one: the entry gives up after it, else
    // after the PIN pad's own limit — never after another request's TIMER.
    std::optional<int> timerSeconds;
};

// The PIN pad's one operation.
class PinPadOperations
{
public:
    virtual ~PinPadOperations() = default;
    virtual std::unique_ptr<Operation> pinPad1000se_get_pin(const PinRequest& request) = 0;
};
