#include "pad/signaturecapture.h"

#include <optional>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"
#include "pad/removewithoutforcing.h"
#include "pad/signatureupload.h"
#include "request/replychannel.h"

namespace {

const QString kNotEnabled = QStringLiteral("QP6100 Not Enabled in Varnel Payment Setup");

bool holdsData(const QString& value)
{
    return !value.isEmpty() && value != QString(QChar(0));
}

// The text's raw storage, two bytes per character, low byte first, as the driver takes it.
QByteArray rawUtf16(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (const QChar c : text) {
        bytes.append(char(c.unicode() & 0xff));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

// The folder the picture goes into exists before the driver writes it, readable by its owner
// only like the pictures in it.
void makeFolderFor(const QString& sigFile)
{
    const QString folder = QFileInfo(sigFile).absolutePath();
    if (QFileInfo::exists(folder))
        return;
    if (!QDir().mkpath(folder) ||
        !QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner))
        throw Failure(FailureCode::PathFileAccess, QStringLiteral("cannot create ") + folder);
}

} // namespace

SignatureCapture::SignatureCapture(PadDriver& driver, PadConnection& connection,
                                   PadVariables& variables, ActivityLog& log, ReplyChannel& replies,
                                   EventPump& pump, PadTimeout& padTimeout, SignatureUpload& upload)
    : m_driver(driver), m_connection(connection), m_variables(variables), m_log(log),
      m_replies(replies), m_pump(pump), m_padTimeout(padTimeout), m_upload(upload)
{
}

void SignatureCapture::reply(QString xml)
{
    m_replies.return_xml(xml, false);
}

void SignatureCapture::qp6100_delete_signature(const QString& sigFile)
{
    const QFileInfo file(sigFile);
    if (!file.exists()) {
        m_log.log(QStringLiteral("qp6100_delete_signature: ") + sigFile +
                  QStringLiteral(" doesn't exist"));
        return;
    }
    m_log.log(QStringLiteral("qp6100_delete_signature: ") +
              ActivityLog::timestamp(file.lastModified()));
    removeWithoutForcing(sigFile);
}

void SignatureCapture::qp6100_get_signature(const QString& sigFile, bool doFtp,
                                            const QString& ftpPath)
{
    if (!m_connection.pad_enabled(true)) {
        reply(QStringLiteral("<QP6100><ERROR>") + kNotEnabled +
              QStringLiteral("</ERROR></QP6100>"));
        return;
    }
    if (m_padTimeout.seconds() == 0)
        m_padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    m_log.log(QStringLiteral("qp6100_get_signature: timeout=[") +
              QString::number(m_padTimeout.seconds()) + QLatin1Char(']'));

    try {
        const std::optional<bool> saved = captureAndSave(sigFile, doFtp, ftpPath);
        if (!saved)
            return;
        reply(*saved ? QStringLiteral("<QP6100><SIGNATURE>OK</SIGNATURE><SIGPATH>") + sigFile +
                           QStringLiteral("</SIGPATH></QP6100>")
                     : QStringLiteral("<QP6100><ERROR>Error Getting Signature</ERROR></QP6100>"));
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("qp6100_get_signature: ") + errorNumberText(failure.code()));
        reply(QStringLiteral("<QP6100><ERROR>Error Getting Signature: ") +
              errorNumberText(failure.code()) + QStringLiteral("</ERROR></QP6100>"));
    }
}

std::optional<bool> SignatureCapture::captureAndSave(const QString& sigFile, bool doFtp,
                                                     const QString& ftpPath)
{
    const StopWhen clientGone = m_replies.requesterGone();
    const qint64 started = m_pump.elapsedMs();
    m_log.log(QStringLiteral("Get Signature:"));
    m_variables.flush_sigcomp();
    m_connection.show_pad_form(PadForm::kSig);

    QString sigData;
    for (;;) {
        m_pump.waitUntil(kStepMs, clientGone);
        m_pump.processPending();
        if (clientGone()) {
            // Nobody waits for the signature any more: the pad is free for the till's retry.
            m_log.log(QStringLiteral("qp6100_get_signature: client gone"));
            m_connection.show_pad_form(PadForm::kWelcome);
            return std::nullopt;
        }
        // Read the shared limit afresh: a request served during the step may have set it.
        if (m_pump.elapsedMs() - started >= qint64(m_padTimeout.seconds()) * 1000) {
            m_log.log(QStringLiteral("qp6100_get_signature: Timeout"));
            m_connection.show_pad_form(PadForm::kWelcome);
            reply(QStringLiteral("<QP6100><TIMEOUT>1</TIMEOUT></QP6100>"));
            return std::nullopt;
        }
        qint16 ignored = 0;
        m_driver.GetVariable(PadVariable::kSigcomp, sigData, ignored);
        if (holdsData(sigData))
            break;
    }
    m_log.log(QStringLiteral("qp6100_get_signature: sigData captured"));

    if (sigData.size() > kMaxSigDataLength)
        throw Failure(FailureCode::Overflow, QStringLiteral("signature data too long"));
    const QByteArray bytes = rawUtf16(sigData);
    m_log.log(QStringLiteral("qp6100_get_signature: signature save file"));
    if (!sigFile.isEmpty())
        makeFolderFor(sigFile);
    qint16 status = 0;
    m_driver.SaveSignature(bytes, qint16(bytes.size()), sigFile, status);
    if (status != 1) {
        m_log.log(QStringLiteral("qp6100_get_signature: signature save failed"));
        return false;
    }
    if (!doFtp)
        return true;
    const bool uploaded = m_upload.sig_ftp(sigFile, ftpPath, clientGone);
    if (clientGone())
        return std::nullopt; // the upload has logged that nobody waits for the reply
    return uploaded;
}
