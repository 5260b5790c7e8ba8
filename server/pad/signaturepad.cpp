#include "pad/signaturepad.h"

#include "pad/cardswipe.h"
#include "pad/signaturecapture.h"
#include "pad/signaturefilename.h"

SignaturePad::SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                           FileChooser& fileChooser, Scheduler& scheduler, PadTimeout& padTimeout,
                           FtpSource ftp, QString signaturesFolder)
    : m_signaturesFolder(std::move(signaturesFolder)), m_ftp(std::move(ftp)),
      m_connection(driver, settings, log, fileChooser),
      m_variables(driver, log), m_context{driver, m_connection, m_variables,
                                          log,    scheduler,    padTimeout}
{
}

bool SignaturePad::pad_enabled(bool logIfDisabled)
{
    return m_connection.pad_enabled(logIfDisabled);
}

void SignaturePad::clear_padVars()
{
    m_variables.clear_padVars();
}

std::unique_ptr<Operation> SignaturePad::qp6100_get_swipe()
{
    m_variables.clear_padVars();
    return std::make_unique<CardSwipe>(m_context);
}

std::unique_ptr<Operation> SignaturePad::qp6100_get_signature(const SignatureRequest& request)
{
    m_variables.clear_padVars();
    // A name that leaves the signatures folder fails the transaction before any file is used.
    requireSafeSignatureFile(request.sigFile, m_signaturesFolder);
    SignatureCapture::qp6100_delete_signature(m_context.log, request.sigFile);
    m_variables.set_account_var(request.account);
    m_variables.set_fullname_var(request.name);
    m_variables.setVar(request.total);
    return std::make_unique<SignatureCapture>(m_context, m_ftp, request.sigFile, request.doFtp,
                                              request.ftpPath);
}

void SignaturePad::pad_welcome()
{
    m_connection.pad_welcome();
}
