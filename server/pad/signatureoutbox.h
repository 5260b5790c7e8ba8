#pragma once

#include <map>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "core/outboxfigures.h"
#include "pad/ftpclient.h"
#include "pad/outboxrecord.h"
#include "settings/outboxsettings.h"

class ActivityLog;
class Clock;
class ScheduledCall;
class Scheduler;
class Telemetry;

// Pictures whose upload has not arrived yet, kept on disk in `signatures/outbox/` beside a
// record of each, and tried again in the background with growing waits until they arrive
// or are given up (moved to `signatures/failed/`). A picture enters before its first try, so a
// crash or a restart during it loses nothing. Retries run one at a time on the event loop, and
// a till's own upload goes first: a retry under way makes way for it.
class SignatureOutbox
{
public:
    struct Parts
    {
        // The folder of the signature pictures; the outbox and the given-up pictures are in it.
        QString signaturesFolder;
        OutboxSettings settings;
        FtpSource ftp;
        ActivityLog& log;
        const Clock& clock;
        Scheduler& scheduler;
        Telemetry& telemetry;
    };
    // A picture taken in: its key in the outbox and where its file now is.
    struct Admitted
    {
        QString key;
        QString picture;
    };

    explicit SignatureOutbox(Parts parts);
    ~SignatureOutbox();
    SignatureOutbox(const SignatureOutbox&) = delete;
    SignatureOutbox& operator=(const SignatureOutbox&) = delete;

    // Reads what waits from disk; each picture is tried again within RetryFirst.
    void start();
    // Drops a retry under way (the picture keeps waiting on disk); nothing is tried after.
    void close();

    // Takes `picture` in before its first try, to be stored as `remoteName`. Nothing when the
    // outbox is full or the picture cannot be moved: its upload then runs from where it is.
    std::optional<Admitted> admit(const QString& picture, const QString& remoteName);
    // The first try of an admitted picture arrived: it leaves the outbox.
    void arrived(const QString& key);
    // The first try failed, or was given up before its end (`failure` empty): it waits.
    void notArrived(const QString& key, const QString& failure);
    // A till's upload starts or ends: while one runs, no retry does.
    void tillUploadStarted();
    void tillUploadEnded();

    bool queuedReply() const { return m_parts.settings.queuedReply; }
    OutboxFigures figures() const;

    // The lines of `--outbox` for the signatures folder: what waits, then what was given up.
    static QStringList listing(const QString& signaturesFolder, qint64 nowSeconds);
    // `--retry-failed`: puts the given-up pictures back in the outbox, where a running server
    // finds them within seconds and a stopped one at its next start; returns how many.
    static int retryFailed(const QString& signaturesFolder, qint64 nowSeconds);

private:
    struct Waiting
    {
        OutboxRecord record;
        // Whether its first try (the till's) is still under way.
        bool firstTryRunning = false;
    };

    QString outboxFolder() const;
    // Takes in the records on disk that it does not hold yet.
    void adoptFromDisk();
    QString picturePath(const QString& key) const;
    void save(const QString& key, const Waiting& waiting);
    void remove(const QString& key);
    void failedAgain(const QString& key, const QString& failure);
    void giveUp(const QString& key);
    qint64 waitAfter(int attempts) const;
    qint64 storedBytes() const;
    // Sets the timer for the next picture due, unless a retry or a till's upload runs.
    void scheduleNext();
    void retryDue();
    void retryEnded(const QString& key, const FtpOutcome& outcome);
    void stopRetry();

    Parts m_parts;
    std::map<QString, Waiting> m_waiting;
    std::unique_ptr<ScheduledCall> m_timer;
    QString m_retrying;
    std::unique_ptr<FtpTransfer> m_retry;
    int m_tillUploads = 0;
    bool m_closed = false;
    // When pictures were given up (seconds since 1970), for the last day's count.
    std::vector<qint64> m_givenUp;
};
