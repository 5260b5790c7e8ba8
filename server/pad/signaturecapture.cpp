#include "pad/signaturecapture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"
#include "pad/removewithoutforcing.h"
#include "request/replytext.h"

namespace {

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

SignatureCapture::SignatureCapture(const PadContext& pad, FtpSource ftp, QString sigFile,
                                   bool doFtp, QString ftpPath, StopWhen clientGone)
    : m_pad(pad), m_ftp(std::move(ftp)), m_sigFile(std::move(sigFile)), m_doFtp(doFtp),
      m_ftpPath(std::move(ftpPath)), m_clientGone(std::move(clientGone))
{
}

SignatureCapture::~SignatureCapture() = default;

void SignatureCapture::qp6100_delete_signature(ActivityLog& log, const QString& sigFile)
{
    const QFileInfo file(sigFile);
    if (!file.exists()) {
        log.log(QStringLiteral("qp6100_delete_signature: ") + sigFile +
                QStringLiteral(" doesn't exist"));
        return;
    }
    log.log(QStringLiteral("qp6100_delete_signature: ") +
            ActivityLog::timestamp(file.lastModified()));
    removeWithoutForcing(sigFile);
}

void SignatureCapture::start(Finished finished)
{
    m_finished = std::move(finished);
    if (!m_pad.connection.pad_enabled(true)) {
        finish(Reply{padNotEnabledReply(), false});
        return;
    }
    if (m_pad.padTimeout.seconds() == 0)
        m_pad.padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    m_pad.log.log(QStringLiteral("qp6100_get_signature: timeout=[") +
                  QString::number(m_pad.padTimeout.seconds()) + QLatin1Char(']'));
    try {
        m_startedMs = m_pad.scheduler.elapsedMs();
        m_pad.log.log(QStringLiteral("Get Signature:"));
        m_pad.variables.flush_sigcomp();
        m_pad.connection.show_pad_form(PadForm::kSig);
        m_step = m_pad.scheduler.callAfter(kStepMs, [this] { step(); });
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void SignatureCapture::step()
{
    try {
        if (m_clientGone && m_clientGone()) {
            // Nobody waits for the signature any more: the pad is free for the till's retry.
            m_pad.log.log(QStringLiteral("qp6100_get_signature: client gone"));
            m_pad.connection.show_pad_form(PadForm::kWelcome);
            finish(std::nullopt);
            return;
        }
        // Read the shared limit afresh: a request served during the step may have set it.
        if (m_pad.scheduler.elapsedMs() - m_startedMs >=
            qint64(m_pad.padTimeout.seconds()) * 1000) {
            m_pad.log.log(QStringLiteral("qp6100_get_signature: Timeout"));
            m_pad.connection.show_pad_form(PadForm::kWelcome);
            finish(Reply{padTimeoutReply(), false});
            return;
        }
        QString sigData;
        qint16 ignored = 0;
        m_pad.driver.GetVariable(PadVariable::kSigcomp, sigData, ignored);
        if (holdsData(sigData)) {
            save(sigData);
            return;
        }
        m_step = m_pad.scheduler.callAfter(kStepMs, [this] { step(); });
    } catch (const Failure& failure) {
        fail(failure.code());
    }
}

void SignatureCapture::save(const QString& sigData)
{
    m_pad.log.log(QStringLiteral("qp6100_get_signature: sigData captured"));
    if (sigData.size() > kMaxSigDataLength)
        throw Failure(FailureCode::Overflow, QStringLiteral("signature data too long"));
    const QByteArray bytes = rawUtf16(sigData);
    m_pad.log.log(QStringLiteral("qp6100_get_signature: signature save file"));
    if (!m_sigFile.isEmpty())
        makeFolderFor(m_sigFile);
    qint16 status = 0;
    m_pad.driver.SaveSignature(bytes, qint16(bytes.size()), m_sigFile, status);
    if (status != 1) {
        m_pad.log.log(QStringLiteral("qp6100_get_signature: signature save failed"));
        finish(Reply{signatureFailedReply(), false});
        return;
    }
    if (!m_doFtp) {
        finish(Reply{signatureOkReply(m_sigFile), false});
        return;
    }
    m_upload = std::make_unique<SignatureUpload>(
        m_ftp, m_pad.log, m_pad.scheduler, m_pad.padTimeout, m_sigFile, m_ftpPath, m_clientGone);
    m_upload->start([this](SignatureUpload::End how) { uploadEnded(how); });
}

void SignatureCapture::uploadEnded(SignatureUpload::End how)
{
    // A client gone by now waits for no reply; when the upload noticed it, it logged that.
    if (how == SignatureUpload::End::Abandoned || (m_clientGone && m_clientGone())) {
        finish(std::nullopt);
        return;
    }
    finish(Reply{how == SignatureUpload::End::Uploaded ? signatureOkReply(m_sigFile)
                                                       : signatureFailedReply(),
                 false});
}

void SignatureCapture::fail(int code)
{
    m_pad.log.log(QStringLiteral("qp6100_get_signature: ") + errorNumberText(code));
    finish(Reply{signatureErrorReply(code), false});
}

void SignatureCapture::finish(std::optional<Reply> reply)
{
    m_step.reset();
    finishOnce(m_finished, std::move(reply));
}

void SignatureCapture::close()
{
    m_step.reset();
    if (!m_finished)
        return;
    if (!m_upload) {
        // A wait ends as an interrupted one always has: its error line and reply.
        fail(FailureCode::Interrupted);
        return;
    }
    // An upload under way is dropped, logged, and answered as an upload that failed.
    m_upload->close();
    finish(Reply{signatureFailedReply(), false});
}
