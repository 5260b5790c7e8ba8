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

namespace {

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
                                   bool doFtp, QString ftpPath)
    : PadWait(pad, {QStringLiteral("qp6100_get_signature"), QStringLiteral("Timeout"),
                    OperationKind::Signature}),
      m_ftp(std::move(ftp)), m_sigFile(std::move(sigFile)), m_doFtp(doFtp),
      m_ftpPath(std::move(ftpPath))
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

Outcome SignatureCapture::notEnabled() const
{
    return outcome::NotEnabled{DeviceId::Pad};
}

void SignatureCapture::prepare()
{
    m_pad.log.log(QStringLiteral("Get Signature:"));
    m_pad.variables.flush_sigcomp();
    m_pad.connection.show_pad_form(PadForm::kSig);
}

bool SignatureCapture::readPad()
{
    QString sigData;
    qint16 ignored = 0;
    m_pad.driver.GetVariable(PadVariable::kSigcomp, sigData, ignored);
    if (!holdsData(sigData))
        return false;
    save(sigData);
    return true;
}

void SignatureCapture::save(const QString& sigData)
{
    log(QStringLiteral("sigData captured"));
    if (sigData.size() > kMaxSigDataLength)
        throw Failure(FailureCode::Overflow, QStringLiteral("signature data too long"));
    const QByteArray bytes = rawUtf16(sigData);
    log(QStringLiteral("signature save file"));
    if (!m_sigFile.isEmpty())
        makeFolderFor(m_sigFile);
    qint16 status = 0;
    m_pad.driver.SaveSignature(bytes, qint16(bytes.size()), m_sigFile, status);
    if (status != 1) {
        log(QStringLiteral("signature save failed"));
        finish(outcome::SignatureNotStored{});
        return;
    }
    if (!m_doFtp) {
        finish(outcome::SignatureStored{m_sigFile});
        return;
    }
    m_upload =
        std::make_unique<SignatureUpload>(m_ftp, m_pad.log, m_pad.padTimeout, m_sigFile, m_ftpPath);
    m_upload->start([this](SignatureUpload::End how) { uploadEnded(how); });
}

void SignatureCapture::uploadEnded(SignatureUpload::End how)
{
    if (how == SignatureUpload::End::Abandoned) {
        finish(outcome::ClientGone{});
        return;
    }
    const bool queuedReply = m_ftp.outbox && m_ftp.outbox->queuedReply();
    if (how == SignatureUpload::End::Uploaded)
        finish(outcome::SignatureStored{m_sigFile});
    else if (how == SignatureUpload::End::Queued && queuedReply)
        finish(outcome::SignatureStored{m_sigFile, true});
    else
        // The pad did its part: only the upload failed.
        finish(outcome::SignatureNotStored{false});
}

void SignatureCapture::clientGone()
{
    if (!m_upload) {
        PadWait::clientGone();
        return;
    }
    // The upload logs that it was dropped and ends as abandoned.
    m_upload->clientGone();
}

void SignatureCapture::close()
{
    if (!m_upload || !answering()) {
        PadWait::close();
        return;
    }
    // An upload under way is dropped, logged, and answered as an upload that failed.
    m_upload->close();
    finish(outcome::SignatureNotStored{false});
}
