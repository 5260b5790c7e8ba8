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
    // `signaturesFolder` is the folder that holds the signature files, without a trailing
    // separator.
    SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log, ReplyChannel& replies,
                 EventPump& pump, PadTimeout& padTimeout, FileChooser& fileChooser,
                 QString signaturesFolder);

    bool pad_enabled(bool logIfDisabled) override;
    void clear_padVars() override;
    void qp6100_get_swipe() override;
    // Refuses an unsafe file name; signature files are not written yet, so nothing is removed.
    void qp6100_delete_signature(const QString& sigFile) override;
    void set_account_var(const QString& account) override;
    void set_fullname_var(const QString& name) override;
    void setVar(const QString& total) override;
    // Refuses an unsafe file name; otherwise answers that signature capture is not available.
    void qp6100_get_signature(const QString& sigFile, bool doFtp, const QString& ftpPath) override;
    void pad_welcome() override;

    // The connection commands, for the start-up, the shut-down and the window's menu.
    PadConnection& connection() { return m_connection; }

private:
    ActivityLog& m_log;
    ReplyChannel& m_replies;
    QString m_signaturesFolder;
    PadConnection m_connection;
    PadVariables m_variables;
    CardSwipe m_swipe;
};
