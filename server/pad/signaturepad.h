#pragma once

#include "pad/ftpclient.h"
#include "pad/padconnection.h"
#include "pad/padcontext.h"
#include "pad/padvariables.h"
#include "request/deviceoperations.h"

class ActivityLog;
class FileChooser;
class LiveSettings;
class PadDriver;
class PadTimeout;
class Scheduler;

// The signature pad's operations as the request service dispatches them, over one driver.
class SignaturePad : public PadOperations
{
public:
    // Waiting operations are woken by `scheduler` and bounded by `padTimeout`; uploads go
    // through `ftp`; `signaturesFolder` holds the signature files (no trailing separator).
    SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                 FileChooser& fileChooser, Scheduler& scheduler, PadTimeout& padTimeout,
                 FtpSource ftp, QString signaturesFolder);

    bool pad_enabled(bool logIfDisabled) override;
    void clear_padVars() override;
    std::unique_ptr<Operation> qp6100_get_swipe() override;
    // Refuses a file name that leaves the signatures folder with failure 5 before touching
    // the file system.
    std::unique_ptr<Operation> qp6100_get_signature(const SignatureRequest& request) override;
    void pad_welcome() override;

    // The connection commands, for the start-up, the shut-down and the window's menu.
    PadConnection& connection() { return m_connection; }

private:
    QString m_signaturesFolder;
    FtpSource m_ftp;
    PadConnection m_connection;
    PadVariables m_variables;
    PadContext m_context;
};
