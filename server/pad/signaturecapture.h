#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "pad/ftpclient.h"
#include "pad/padcontext.h"
#include "pad/padwait.h"
#include "pad/signatureupload.h"

class ActivityLog;

// Asks the customer to sign on the pad, has the driver write the signature picture, uploads it
// when asked, and ends with the picture's path. The pad is read every half second on a timer
// of the main loop and the upload advances on its own events, so other clients are served
// meanwhile.
class SignatureCapture final : public PadWait
{
public:
    // Most characters of pen data the driver can be handed: their bytes must fit a 16-bit count.
    static constexpr int kMaxSigDataLength = 16383;

    SignatureCapture(const PadContext& pad, FtpSource ftp, QString sigFile, bool doFtp,
                     QString ftpPath);
    ~SignatureCapture() override;

    // Drops an upload under way, logged; the picture is kept.
    void clientGone() override;
    // Ends at once, before returning: a wait as an interrupted one (its "Error( 18)" line and
    // reply), an upload under way dropped, logged and answered as a failed upload.
    void close() override;

    // Removes an earlier picture at the path. Failures go to the caller.
    static void qp6100_delete_signature(ActivityLog& log, const QString& sigFile);

private:
    Outcome notEnabled() const override;
    void prepare() override;
    bool readPad() override;
    // Saves the pen data and goes on to the upload when asked.
    void save(const QString& sigData);
    void uploadEnded(SignatureUpload::End how);

    FtpSource m_ftp;
    QString m_sigFile;
    bool m_doFtp;
    QString m_ftpPath;
    std::unique_ptr<SignatureUpload> m_upload;
};
