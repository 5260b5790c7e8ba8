#pragma once

#include <QString>

// The signature pad's operations as the request service dispatches them. Each operation sends
// its own replies through the reply channel before it returns.
class PadOperations
{
public:
    virtual ~PadOperations() = default;
    // True when the QP6100 device box is ticked; logs "QP6100: Device is Not Enabled"
    // when it is not and `logIfDisabled` is set.
    virtual bool pad_enabled(bool logIfDisabled) = 0;
    virtual void clear_padVars() = 0;
    virtual void qp6100_get_swipe() = 0;
    virtual void qp6100_delete_signature(const QString& sigFile) = 0;
    virtual void set_account_var(const QString& account) = 0;
    virtual void set_fullname_var(const QString& name) = 0;
    // Writes the TOTAL pad variable.
    virtual void setVar(const QString& total) = 0;
    virtual void qp6100_get_signature(const QString& sigFile, bool doFtp,
                                      const QString& ftpPath) = 0;
    // Shows the welcome form when the pad is enabled; leaves a disabled pad alone.
    virtual void pad_welcome() = 0;
};

// The PIN pad's one operation.
class PinPadOperations
{
public:
    virtual ~PinPadOperations() = default;
    virtual void pinPad1000se_get_pin(const QString& creditCard, const QString& total) = 0;
};
