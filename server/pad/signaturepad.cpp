#include "pad/signaturepad.h"

#include "pad/signaturefilename.h"

SignaturePad::SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                           ReplyChannel& replies, EventPump& pump, PadTimeout& padTimeout,
                           FileChooser& fileChooser, FtpClient& ftp, const QString& settingsPath,
                           QString signaturesFolder)
    : m_signaturesFolder(std::move(signaturesFolder)),
      m_connection(driver, settings, log, fileChooser), m_variables(driver, log),
      m_swipe(driver, m_connection, m_variables, log, replies, pump, padTimeout),
      m_upload(settingsPath, log, ftp, pump, padTimeout),
      m_signature(driver, m_connection, m_variables, log, replies, pump, padTimeout, m_upload)
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

void SignaturePad::qp6100_get_swipe()
{
    m_swipe.qp6100_get_swipe();
}

void SignaturePad::qp6100_delete_signature(const QString& sigFile)
{
    // A name that leaves the signatures folder fails the transaction before any file is used.
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
    m_signature.qp6100_delete_signature(sigFile);
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

void SignaturePad::qp6100_get_signature(const QString& sigFile, bool doFtp, const QString& ftpPath)
{
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
    m_signature.qp6100_get_signature(sigFile, doFtp, ftpPath);
}

void SignaturePad::pad_welcome()
{
    m_connection.pad_welcome();
}
