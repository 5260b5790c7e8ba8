#pragma once

#include "pad/cardswipe.h"
#include "pad/padconnection.h"
#include "pad/padvariables.h"
#include "pad/signaturecapture.h"
#include "pad/signatureupload.h"
#include "request/deviceoperations.h"

class ActivityLog;
class EventPump;
class FileChooser;
class FtpClient;
class LiveSettings;
class PadDriver;
class PadTimeout;
class ReplyChannel;

// The signature pad's operations as the request service dispatches them, over one driver.
class SignaturePad : public PadOperations
{
public:
    // The upload reads its settings from the file at `settingsPath` and sends through `ftp`;
    // `signaturesFolder` holds the signature files (no trailing separator).
    SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log, ReplyChannel& replies,
                 EventPump& pump, PadTimeout& padTimeout, FileChooser& fileChooser, FtpClient& ftp,
                 const QString& settingsPath, QString signaturesFolder);

    bool pad_enabled(bool logIfDisabled) override;
    void clear_padVars() override;
    void qp6100_get_swipe() override;
    // Both signature operations refuse a file name that leaves the signatures folder with
    // failure 5 before touching the file system.
    void qp6100_delete_signature(const QString& sigFile) override;
    void set_account_var(const QString& account) override;
    void set_fullname_var(const QString& name) override;
    void setVar(const QString& total) override;
    void qp6100_get_signature(const QString& sigFile, bool doFtp, const QString& ftpPath) override;
    void pad_welcome() override;

    // The connection commands, for the start-up, the shut-down and the window's menu.
    PadConnection& connection() { return m_connection; }

private:
    QString m_signaturesFolder;
    PadConnection m_connection;
    PadVariables m_variables;
    CardSwipe m_swipe;
    SignatureUpload m_upload;
    SignatureCapture m_signature;
};
