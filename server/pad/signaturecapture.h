#pragma once

#include <optional>

#include <QString>

class ActivityLog;
class EventPump;
class PadConnection;
class PadDriver;
class PadTimeout;
class PadVariables;
class ReplyChannel;
class SignatureUpload;

// Asks the customer to sign on the pad, has the driver write the signature picture, uploads it
// when asked, and answers the waiting client with the picture's path. The wait runs in
// half-second steps during which other events (other clients' requests) run.
class SignatureCapture
{
public:
    // Length of one waiting step.
    static constexpr int kStepMs = 500;
    // Most characters of pen data the driver can be handed: their bytes must fit a 16-bit count.
    static constexpr int kMaxSigDataLength = 16383;

    // `padTimeout` is the server's shared limit, read again at every step.
    SignatureCapture(PadDriver& driver, PadConnection& connection, PadVariables& variables,
                     ActivityLog& log, ReplyChannel& replies, EventPump& pump,
                     PadTimeout& padTimeout, SignatureUpload& upload);

    // Removes an earlier picture at the path. Failures go to the caller.
    void qp6100_delete_signature(const QString& sigFile);
    // Sends exactly one reply: the saved picture's path, a time-out, an error.
    void qp6100_get_signature(const QString& sigFile, bool doFtp, const QString& ftpPath);

private:
    void reply(QString xml);
    // Waits for the pen data and saves it; returns whether the file was saved (and uploaded,
    // when asked), or nothing after a time-out, whose reply it has sent, or when the client
    // has gone.
    std::optional<bool> captureAndSave(const QString& sigFile, bool doFtp, const QString& ftpPath);

    PadDriver& m_driver;
    PadConnection& m_connection;
    PadVariables& m_variables;
    ActivityLog& m_log;
    ReplyChannel& m_replies;
    EventPump& m_pump;
    PadTimeout& m_padTimeout;
    SignatureUpload& m_upload;
};
