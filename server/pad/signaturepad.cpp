#include "pad/signaturepad.h"

#include "log/activitylog.h"
#include "pad/signaturefilename.h"
#include "request/replychannel.h"

SignaturePad::SignaturePad(PadDriver& driver, LiveSettings& settings, ActivityLog& log,
                           ReplyChannel& replies, EventPump& pump, PadTimeout& padTimeout,
                           FileChooser& fileChooser, QString signaturesFolder)
    : m_log(log), m_replies(replies), m_signaturesFolder(std::move(signaturesFolder)),
      m_connection(driver, settings, log, fileChooser), m_variables(driver, log),
      m_swipe(driver, m_connection, m_variables, log, replies, pump, padTimeout)
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
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
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

void SignaturePad::qp6100_get_signature(const QString& sigFile, bool, const QString&)
{
    requireSafeSignatureFile(sigFile, m_signaturesFolder);
    m_log.log(QStringLiteral("qp6100_get_signature: Signature capture is not available"));
    QString xml =
        QStringLiteral("<QP6100><ERROR>Signature capture is not available</ERROR></QP6100>");
    m_replies.return_xml(xml, false);
}

void SignaturePad::pad_welcome()
{
    m_connection.pad_welcome();
}
