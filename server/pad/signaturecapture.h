#pragma once

#include <memory>
#include <optional>

#include <QString>

#include "core/scheduler.h"
#include "pad/ftpclient.h"
#include "pad/padcontext.h"
#include "pad/signatureupload.h"
#include "request/operation.h"

class ActivityLog;

// Asks the customer to sign on the pad, has the driver write the signature picture, uploads it
// when asked, and ends with the picture's path as the reply. The pad is read every half second
// on a timer of the main loop and the upload advances on its own events, so other clients are
// served meanwhile.
class SignatureCapture final : public Operation
{
public:
    // Length of one waiting step.
    static constexpr int kStepMs = 500;
    // Most characters of pen data the driver can be handed: their bytes must fit a 16-bit count.
    static constexpr int kMaxSigDataLength = 16383;

    // Ends early, at its next step, once `clientGone` holds.
    SignatureCapture(const PadContext& pad, FtpSource ftp, QString sigFile, bool doFtp,
                     QString ftpPath, StopWhen clientGone);
    ~SignatureCapture() override;

    // Ends with exactly one reply: the saved picture's path, a time-out, an error; or with none
    // when the client has gone.
    void start(Finished finished) override;
    // Ends at once, before returning: a wait as an interrupted one (its "Error( 18)" line and
    // reply), an upload under way dropped, logged and answered as a failed upload.
    void close() override;

    // Removes an earlier picture at the path. Failures go to the caller.
    static void qp6100_delete_signature(ActivityLog& log, const QString& sigFile);

private:
    void step();
    // Saves the pen data and goes on to the upload when asked.
    void save(const QString& sigData);
    void uploadEnded(SignatureUpload::End how);
    void finish(std::optional<Reply> reply);
    void fail(int code);

    PadContext m_pad;
    FtpSource m_ftp;
    QString m_sigFile;
    bool m_doFtp;
    QString m_ftpPath;
    StopWhen m_clientGone;
    Finished m_finished;
    qint64 m_startedMs = 0;
    std::unique_ptr<ScheduledCall> m_step;
    std::unique_ptr<SignatureUpload> m_upload;
};
