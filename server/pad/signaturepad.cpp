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

std::unique_ptr<Operation> SignaturePad::qp6100_get_swipe(StopWhen clientGone)
{
    return std::make_unique<CardSwipe>(m_context, std::move(clientGone));
}

void SignaturePad::qp6100_delete_signature(const QString& sigFile)
{
    // A name that leaves the signatures folder fails the transaction before any file is used.
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
    SignatureCapture::qp6100_delete_signature(m_context.log, sigFile);
}

void SignaturePad::set_account_var(const QString& account)
{
    m_variables.set_account_var(account);
}

void SignaturePad::set_fullname_var(const QString& name)
{
    m_variables.set_fullname_var(name);
}

void SignaturePad::setVar(const QString& total)
{
    m_variables.setVar(total);
}

std::unique_ptr<Operation> SignaturePad::qp6100_get_signature(const QString& sigFile, bool doFtp,
                                                              const QString& ftpPath,
                                                              StopWhen clientGone)
{
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
    return std::make_unique<SignatureCapture>(m_context, m_ftp, sigFile, doFtp, ftpPath,
                                              std::move(clientGone));
}

void SignaturePad::pad_welcome()
{
    m_connection.pad_welcome();
}
