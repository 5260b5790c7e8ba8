#include "pad/signatureoutbox.h"

#include <algorithm>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include "core/clock.h"
#include "core/failure.h"
#include "core/scheduler.h"
#include "core/telemetry.h"
#include "log/activitylog.h"
#include "pad/signatureupload.h"

namespace {

const QString kOutbox = QStringLiteral("outbox");
const QString kFailed = QStringLiteral("failed");
const QString kRecord = QStringLiteral(".record");
// A retry's own limit: no till waits for it, so it is the default one.
constexpr int kRetryLimitSeconds = 60;
// The outbox looks at its folder at least this often, for pictures put back by --retry-failed.
constexpr qint64 kLongestSleepSeconds = 5;
constexpr qint64 kDaySeconds = 24 * 3600;

QString recordPath(const QString& folder, const QString& key)
{
    return QDir(folder).filePath(key + kRecord);
}

// The keys of the records in `folder`, oldest first (keys start with their time).
QStringList keysIn(const QString& folder)
{
    QStringList keys;
    const QStringList records =
        QDir(folder).entryList({QStringLiteral("*") + kRecord}, QDir::Files, QDir::Name);
    for (const QString& name : records)
        keys << name.chopped(kRecord.size());
    return keys;
}

QString when(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString nameOf(const OutboxRecord& record, const QString& key)
{
    return record.takenAs.isEmpty() ? key : QFileInfo(record.takenAs).fileName();
}

} // namespace

SignatureOutbox::SignatureOutbox(Parts parts) : m_parts(std::move(parts)) {}

SignatureOutbox::~SignatureOutbox() = default;

QString SignatureOutbox::outboxFolder() const
{
    return QDir(m_parts.signaturesFolder).filePath(kOutbox);
}

QString SignatureOutbox::picturePath(const QString& key) const
{
    return QDir(outboxFolder()).filePath(key);
}

void SignatureOutbox::start()
{
    const qint64 now = m_parts.clock.secsSinceEpoch();
    const QString failed = QDir(m_parts.signaturesFolder).filePath(kFailed);
    for (const QString& key : keysIn(failed)) {
        const auto record = OutboxRecord::read(recordPath(failed, key));
        if (record && record->givenUp > now - kDaySeconds)
            m_givenUp.push_back(record->givenUp);
    }
    adoptFromDisk();
    // Every waiting picture is tried again soon after a start, spread over RetryFirst.
    const qint64 first = m_parts.settings.retryFirstSeconds;
    for (auto& [key, waiting] : m_waiting) {
        const qint64 soon = now + 1 + QRandomGenerator::global()->bounded(first);
        if (waiting.record.nextTry > soon) {
            waiting.record.nextTry = soon;
            save(key, waiting);
        }
    }
    scheduleNext();
}

void SignatureOutbox::adoptFromDisk()
{
    const QString folder = outboxFolder();
    for (const QString& key : keysIn(folder)) {
        if (m_waiting.count(key) != 0)
            continue;
        const auto record = OutboxRecord::read(recordPath(folder, key));
        if (!record) {
            m_parts.log.log(QStringLiteral("sig_ftp: outbox: the record of ") + key +
                            QStringLiteral(" cannot be read; the picture stays where it is"));
            continue;
        }
        // Taken in but not yet moved when the program stopped: it is moved now.
        if (!QFileInfo::exists(picturePath(key)) &&
            !(QFileInfo::exists(record->takenAs) &&
              QFile::rename(record->takenAs, picturePath(key)))) {
            QFile::remove(recordPath(folder, key));
            continue;
        }
        m_waiting[key] = Waiting{*record, false};
    }
}

void SignatureOutbox::close()
{
    m_closed = true;
    m_timer.reset();
    stopRetry();
}

qint64 SignatureOutbox::storedBytes() const
{
    qint64 bytes = 0;
    for (const auto& [key, waiting] : m_waiting)
        bytes += QFileInfo(picturePath(key)).size();
    return bytes;
}

std::optional<SignatureOutbox::Admitted> SignatureOutbox::admit(const QString& picture,
                                                                const QString& remoteName)
{
    const qint64 size = QFileInfo(picture).size();
    if (storedBytes() + size > m_parts.settings.capBytes) {
        m_parts.log.log(QStringLiteral("sig_ftp: outbox: full (OutboxMegabytes=[%1]): %2 is kept "
                                       "where it is and not tried again")
                            .arg(m_parts.settings.capBytes / (1024 * 1024))
                            .arg(picture));
        return std::nullopt;
    }
    if (!QDir().mkpath(outboxFolder()))
        return std::nullopt;
    const qint64 now = m_parts.clock.secsSinceEpoch();
    QString key;
    do {
        key = QStringLiteral("%1-%2-%3")
                  .arg(now)
                  .arg(QRandomGenerator::global()->bounded(0x100000), 5, 16, QLatin1Char('0'))
                  .arg(QFileInfo(picture).fileName());
    } while (QFileInfo::exists(recordPath(outboxFolder(), key)));

    Waiting waiting{OutboxRecord{remoteName, picture, 0, now,
                                 now + m_parts.settings.retryFirstSeconds, 0, QString()},
                    true};
    // The record first: a stop between the two finds it and moves the picture then.
    if (!waiting.record.write(recordPath(outboxFolder(), key)))
        return std::nullopt;
    if (!QFile::rename(picture, picturePath(key))) {
        QFile::remove(recordPath(outboxFolder(), key));
        return std::nullopt;
    }
    syncFolderOf(picturePath(key));
    m_waiting[key] = waiting;
    return Admitted{key, picturePath(key)};
}

void SignatureOutbox::save(const QString& key, const Waiting& waiting)
{
    if (!waiting.record.write(recordPath(outboxFolder(), key)))
        m_parts.log.log(QStringLiteral("sig_ftp: outbox: the record of ") + key +
                        QStringLiteral(" cannot be written"));
}

void SignatureOutbox::remove(const QString& key)
{
    QFile::remove(picturePath(key));
    QFile::remove(recordPath(outboxFolder(), key));
    m_waiting.erase(key);
}

void SignatureOutbox::arrived(const QString& key)
{
    remove(key);
    scheduleNext();
}

void SignatureOutbox::notArrived(const QString& key, const QString& failure)
{
    const auto found = m_waiting.find(key);
    if (found == m_waiting.end())
        return;
    found->second.firstTryRunning = false;
    if (failure.isEmpty()) {
        found->second.record.nextTry =
            m_parts.clock.secsSinceEpoch() + m_parts.settings.retryFirstSeconds;
        save(key, found->second);
    } else {
        failedAgain(key, failure);
    }
    scheduleNext();
}

qint64 SignatureOutbox::waitAfter(int attempts) const
{
    const OutboxSettings& s = m_parts.settings;
    qint64 wait = s.retryFirstSeconds;
    for (int i = 1; i < attempts && wait < s.retryMaxSeconds; ++i)
        wait *= 2;
    wait = std::min(wait, s.retryMaxSeconds);
    // Between half and all of it, so that boxes that failed together do not retry together.
    return wait - QRandomGenerator::global()->bounded(wait / 2 + 1);
}

void SignatureOutbox::failedAgain(const QString& key, const QString& failure)
{
    Waiting& waiting = m_waiting.at(key);
    OutboxRecord& record = waiting.record;
    const qint64 now = m_parts.clock.secsSinceEpoch();
    ++record.attempts;
    record.lastFailure = failure;
    if (now - record.firstTry >= m_parts.settings.giveUpSeconds) {
        giveUp(key);
        return;
    }
    const qint64 wait = std::max<qint64>(1, waitAfter(record.attempts));
    record.nextTry = now + wait;
    save(key, waiting);
    m_parts.log.log(QStringLiteral("sig_ftp: outbox: %1 waits, %2 tries so far; next try in %3s")
                        .arg(nameOf(record, key))
                        .arg(record.attempts)
                        .arg(wait));
}

void SignatureOutbox::giveUp(const QString& key)
{
    OutboxRecord record = m_waiting.at(key).record;
    const qint64 now = m_parts.clock.secsSinceEpoch();
    record.givenUp = now;
    const QString failed = QDir(m_parts.signaturesFolder).filePath(kFailed);
    QDir().mkpath(failed);
    if (record.write(recordPath(failed, key)) &&
        QFile::rename(picturePath(key), QDir(failed).filePath(key)))
        QFile::remove(recordPath(outboxFolder(), key));
    m_waiting.erase(key);
    m_givenUp.push_back(now);
    m_parts.telemetry.signatureGivenUp();
    m_parts.log.log(
        QStringLiteral("sig_ftp: outbox: gave up on %1 after %2 tries since %3; it is "
                       "in %4 [%5]")
            .arg(nameOf(record, key))
            .arg(record.attempts)
            .arg(when(record.firstTry), QDir::toNativeSeparators(failed), record.lastFailure));
}

void SignatureOutbox::tillUploadStarted()
{
    ++m_tillUploads;
    m_timer.reset();
    // The retry is tried again later; it does not count as a try.
    stopRetry();
}

void SignatureOutbox::tillUploadEnded()
{
    m_tillUploads = std::max(0, m_tillUploads - 1);
    scheduleNext();
}

void SignatureOutbox::stopRetry()
{
    m_retry.reset();
    m_retrying.clear();
}

void SignatureOutbox::scheduleNext()
{
    if (m_closed || m_retry || m_tillUploads > 0)
        return;
    const qint64 now = m_parts.clock.secsSinceEpoch();
    qint64 due = now + kLongestSleepSeconds;
    for (const auto& [key, waiting] : m_waiting)
        if (!waiting.firstTryRunning)
            due = std::min(due, waiting.record.nextTry);
    const qint64 waitMs = std::max<qint64>(0, due - now) * 1000;
    m_timer = m_parts.scheduler.callAfter(int(waitMs), [this] { retryDue(); });
}

void SignatureOutbox::retryDue()
{
    m_timer.reset();
    adoptFromDisk();
    const qint64 now = m_parts.clock.secsSinceEpoch();
    QString key;
    for (const auto& [candidate, waiting] : m_waiting)
        if (!waiting.firstTryRunning && waiting.record.nextTry <= now &&
            (key.isEmpty() || waiting.record.nextTry < m_waiting.at(key).record.nextTry))
            key = candidate;
    if (key.isEmpty()) {
        scheduleNext();
        return;
    }
    const OutboxRecord& record = m_waiting.at(key).record;
    const FtpSettings settings = m_parts.ftp.settings ? m_parts.ftp.settings() : FtpSettings{};
    const FtpSecurity security = m_parts.ftp.security ? m_parts.ftp.security() : FtpSecurity{};
    const auto server = SignatureUpload::serverOf(SignatureUpload::withScheme(settings.url));
    if (settings.url.isEmpty() || settings.user.isEmpty() || !server) {
        failedAgain(key, QStringLiteral("parameters not set"));
        scheduleNext();
        return;
    }
    try {
        m_retrying = key;
        m_retry = m_parts.ftp.client.execute(
            FtpUpload{server->host, server->port, settings.user, settings.password,
                      kRetryLimitSeconds, picturePath(key), record.remoteName, server->protocol,
                      security, true},
            [this, key](const FtpOutcome& outcome) { retryEnded(key, outcome); });
    } catch (const Failure& failure) {
        m_retrying.clear();
        m_parts.log.log(QStringLiteral("sig_ftp: outbox: ") + picturePath(key) +
                        QStringLiteral(" cannot be read: ") + errorNumberText(failure.code()));
        remove(key);
        scheduleNext();
    }
}

void SignatureOutbox::retryEnded(const QString& key, const FtpOutcome& outcome)
{
    m_retry.reset();
    m_retrying.clear();
    const auto found = m_waiting.find(key);
    if (found != m_waiting.end()) {
        if (outcome.succeeded) {
            m_parts.log.log(
                QStringLiteral("sig_ftp: outbox: %1 arrived as %2 at try %3")
                    .arg(nameOf(found->second.record, key), found->second.record.remoteName)
                    .arg(found->second.record.attempts + 1));
            remove(key);
        } else {
            failedAgain(key, outcome.failure);
        }
    }
    scheduleNext();
}

OutboxFigures SignatureOutbox::figures() const
{
    const qint64 now = m_parts.clock.secsSinceEpoch();
    OutboxFigures figures;
    figures.waiting = int(m_waiting.size());
    for (const auto& [key, waiting] : m_waiting)
        figures.oldestSeconds = std::max(figures.oldestSeconds, now - waiting.record.firstTry);
    figures.givenUpLastDay = int(std::count_if(
        m_givenUp.begin(), m_givenUp.end(), [now](qint64 at) { return at > now - kDaySeconds; }));
    return figures;
}

QStringList SignatureOutbox::listing(const QString& signaturesFolder, qint64 nowSeconds)
{
    QStringList lines;
    const auto list = [&](const QString& folderName, bool givenUp) {
        const QString folder = QDir(signaturesFolder).filePath(folderName);
        for (const QString& key : keysIn(folder)) {
            const auto record = OutboxRecord::read(recordPath(folder, key));
            if (!record)
                continue;
            QString line =
                QStringLiteral("%1 %2 remote=[%3] tries=%4 last failure=[%5] ")
                    .arg(givenUp ? QStringLiteral("given up:") : QStringLiteral("waiting:"),
                         nameOf(*record, key), record->remoteName)
                    .arg(record->attempts)
                    .arg(record->lastFailure);
            line += givenUp
                        ? QStringLiteral("given up=") + when(record->givenUp)
                        : QStringLiteral("next try=") + when(std::max(record->nextTry, nowSeconds));
            lines << line + QStringLiteral(" file=") + QDir(folder).filePath(key);
        }
    };
    list(kOutbox, false);
    list(kFailed, true);
    return lines;
}

int SignatureOutbox::retryFailed(const QString& signaturesFolder, qint64 nowSeconds)
{
    const QDir signatures(signaturesFolder);
    const QString failed = signatures.filePath(kFailed);
    const QString outbox = signatures.filePath(kOutbox);
    int putBack = 0;
    for (const QString& key : keysIn(failed)) {
        auto record = OutboxRecord::read(recordPath(failed, key));
        if (!record || !QDir().mkpath(outbox))
            continue;
        // Tried again as if new: its give-up time counts from now.
        record->givenUp = 0;
        record->firstTry = nowSeconds;
        record->nextTry = nowSeconds;
        if (!record->write(recordPath(outbox, key)))
            continue;
        if (!QFile::rename(QDir(failed).filePath(key), QDir(outbox).filePath(key))) {
            QFile::remove(recordPath(outbox, key));
            continue;
        }
        QFile::remove(recordPath(failed, key));
        ++putBack;
    }
    return putBack;
}
