#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "core/scheduler.h"
#include "request/operation.h"

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
    // Ends early, at its next step, once `clientGone` holds.
    virtual std::unique_ptr<Operation> qp6100_get_swipe(StopWhen clientGone) = 0;
    virtual void qp6100_delete_signature(const QString& sigFile) = 0;
    virtual void set_account_var(const QString& account) = 0;
    virtual void set_fullname_var(const QString& name) = 0;
    // Writes the TOTAL pad variable.
    virtual void setVar(const QString& total) = 0;
    virtual std::unique_ptr<Operation> qp6100_get_signature(const QString& sigFile, bool doFtp,
                                                            const QString& ftpPath,
                                                            StopWhen clientGone) = 0;
    // Shows the welcome form when the pad is enabled; leaves a disabled pad alone.
    virtual void pad_welcome() = 0;
};

// The PIN pad's one operation.
class PinPadOperations
{
public:
    virtual ~PinPadOperations() = default;
    // `timerSeconds` is the TIMER of this request itself, when it has one: the entry gives up
    // after it, else after the PIN pad's own limit — never after another request's TIMER.
    virtual std::unique_ptr<Operation> pinPad1000se_get_pin(const QString& creditCard,
                                                            const QString& total,
                                                            std::optional<int> timerSeconds,
                                                            StopWhen clientGone) = 0;
};
