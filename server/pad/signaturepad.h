#pragma once

#include "pad/cardswipe.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "request/deviceoperations.h"

class ActivityLog;
class EventPump;
class FileChooser;
class LiveSettings;
class PadDriver;
class PadTimeout;
class ReplyChannel;

// The signature pad's operations as the request service dispatches them, over one driver.
class SignaturePad : public PadOperations
{
public:
    SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log, ReplyChannel& replies,
                 EventPump& pump, PadTimeout& padTimeout, FileChooser& fileChooser);

    bool pad_enabled(bool logIfDisabled) override;
    void clear_padVars() override;
    void qp6100_get_swipe() override;
    // Signature files are not written yet, so there is nothing to remove.
    void qp6100_delete_signature(const QString& sigFile) override;
    void set_account_var(const QString& account) override;
    void set_fullname_var(const QString& name) override;
    void setVar(const QString& total) override;
    // Answers that signature capture is not available.
    void qp6100_get_signature(const QString& sigFile, bool doFtp, const QString& ftpPath) override;
    void pad_welcome() override;

    // The connection commands, for the start-up, the shut-down and the window's menu.
    PadConnection& connection() { return m_connection; }

private:
    ActivityLog& m_log;
    ReplyChannel& m_replies;
    PadConnection m_connection;
    PadVariables m_variables;
    CardSwipe m_swipe;
};
