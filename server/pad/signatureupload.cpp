#include "pad/signatureupload.h"

#include <QFileInfo>
#include <QUrl>

#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/removewithoutforcing.h"

namespace {

const QString kScheme = QStringLiteral("ftp://");
const QString kImplicitTlsScheme = QStringLiteral("ftps://");
// What the url line shows for a password that is set, whatever its length.
const QString kHiddenPassword = QStringLiteral("********");

} // namespace

SignatureUpload::SignatureUpload(FtpSource ftp, ActivityLog& log, PadTimeout& padTimeout,
                                 QString sigFile, QString ftpPath)
    : m_ftp(std::move(ftp)), m_log(log), m_padTimeout(padTimeout), m_sigFile(std::move(sigFile)),
      m_ftpPath(std::move(ftpPath))
{
}

SignatureUpload::~SignatureUpload()
{
    m_transfer.reset();
    leaveToOutbox({});
    if (m_holdsOutbox)
        m_ftp.outbox->tillUploadEnded();
}

void SignatureUpload::leaveToOutbox(const QString& failure)
{
    if (!m_admitted)
        return;
    const QString key = m_admitted->key;
    m_admitted.reset();
    m_ftp.outbox->notArrived(key, failure);
}

QString SignatureUpload::withScheme(const QString& url)
{
    // "FTP://host" is a URL already: a second prefix would make "ftp" the host name.
    return url.contains(kScheme, Qt::CaseInsensitive) ||
                   url.contains(kImplicitTlsScheme, Qt::CaseInsensitive)
               ? url
               : kScheme + url;
}

std::optional<SignatureUpload::Server> SignatureUpload::serverOf(const QString& url)
{
    static const struct
    {
        QLatin1String scheme;
        FtpProtocol protocol;
        int defaultPort;
    } kSchemes[] = {{QLatin1String("ftp"), FtpProtocol::Ftp, 21},
                    {QLatin1String("ftps"), FtpProtocol::Ftps, 990},
                    {QLatin1String("sftp"), FtpProtocol::Sftp, 22}};
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.host().isEmpty())
        return std::nullopt;
    for (const auto& known : kSchemes) {
        if (parsed.scheme() != known.scheme)
            continue;
        const int port = parsed.port(known.defaultPort);
        if (port <= 0)
            return std::nullopt;
        return Server{parsed.host(), quint16(port), known.protocol};
    }
    return std::nullopt;
}

QString SignatureUpload::remoteName(const QString& sigFile, const QString& ftpPath)
{
    return ftpPath + QFileInfo(sigFile).fileName().toLower();
}

QString SignatureUpload::inetCmd(const QString& sigFile, const QString& ftpPath)
{
    return QStringLiteral("PUT ") + sigFile + QLatin1Char(' ') + remoteName(sigFile, ftpPath);
}

void SignatureUpload::start(Ended ended)
{
    m_ended = std::move(ended);
    try {
        begin();
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("sig_ftp: ") + errorNumberText(failure.code()));
        end(End::Failed);
    }
}

void SignatureUpload::begin()
{
    if (m_padTimeout.seconds() == 0)
        m_padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    const FtpSettings settings = m_ftp.settings ? m_ftp.settings() : FtpSettings{};
    const FtpSecurity security = m_ftp.security ? m_ftp.security() : FtpSecurity{};
    const QString url = withScheme(settings.url);
    // An SFTP login may use a key file instead of the password.
    const bool keyLogin = url.startsWith(QLatin1String("sftp://"), Qt::CaseInsensitive) &&
                          !security.keyFile.isEmpty();

    // The password never reaches the log; the line still tells whether one is set.
    m_log.log(QStringLiteral("sig_ftp: url=[") + url + QStringLiteral("] user=[") + settings.user +
              QStringLiteral("] pass=[") +
              (settings.password.isEmpty() ? QString() : kHiddenPassword) + QStringLiteral("] "));
    if (settings.url.isEmpty() || settings.user.isEmpty() ||
        (settings.password.isEmpty() && !keyLogin)) {
        m_log.log(QStringLiteral("sig_ftp: parameters not set"));
        end(End::Failed);
        return;
    }
    const std::optional<Server> server = serverOf(url);
    if (!server)
        throw Failure(FailureCode::InvalidArgument, QStringLiteral("not an FTP server URL"));

    m_log.log(QStringLiteral("sig_ftp: inetCmd=[") + inetCmd(m_sigFile, m_ftpPath) +
              QLatin1Char(']'));
    const QString remote = remoteName(m_sigFile, m_ftpPath);
    // The picture waits in the outbox from before its first try, so that nothing is lost
    // however this try ends; retries hold back while it runs.
    if (m_ftp.outbox) {
        m_ftp.outbox->tillUploadStarted();
        m_holdsOutbox = true;
        m_admitted = m_ftp.outbox->admit(m_sigFile, remote);
    }
    const QString source = m_admitted ? m_admitted->picture : m_sigFile;
    // The file as the client reads it now: only this file is removed after the upload, never
    // one written at the same path meanwhile.
    m_sent = FileIdentity::of(source);
    m_transfer = m_ftp.client.execute(
        FtpUpload{server->host, server->port, settings.user, settings.password,
                  m_padTimeout.seconds(), source, remote, server->protocol, security},
        [this](const FtpOutcome& outcome) { transferEnded(outcome); });
}

void SignatureUpload::clientGone()
{
    if (!m_transfer)
        return;
    m_log.log(QStringLiteral("sig_ftp: client gone: transfer abandoned, ") + m_sigFile +
              QStringLiteral(" kept"));
    m_transfer.reset();
    leaveToOutbox({});
    end(End::Abandoned);
}

void SignatureUpload::transferEnded(const FtpOutcome& outcome)
{
    // The session with the server has ended (its goodbye not awaited).
    m_transfer.reset();
    if (!outcome.succeeded) {
        m_log.log(QStringLiteral("sig_ftp: transfer failed [") + outcome.failure +
                  QLatin1Char(']'));
        const bool waits = m_admitted.has_value();
        leaveToOutbox(outcome.failure);
        end(waits ? End::Queued : End::Failed);
        return;
    }
    if (m_admitted) {
        const QString key = m_admitted->key;
        m_admitted.reset();
        m_ftp.outbox->arrived(key);
        end(End::Uploaded);
        return;
    }
    try {
        removeSent();
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("sig_ftp: ") + errorNumberText(failure.code()));
        end(End::Failed);
        return;
    }
    end(End::Uploaded);
}

void SignatureUpload::removeSent()
{
    if (m_sent && FileIdentity::of(m_sigFile) == m_sent)
        removeWithoutForcing(m_sigFile);
    else if (QFileInfo::exists(m_sigFile))
        m_log.log(QStringLiteral("sig_ftp: ") + m_sigFile +
                  QStringLiteral(" was written again during the upload; the new file is kept"));
}

void SignatureUpload::close()
{
    m_ended = nullptr;
    if (!m_transfer)
        return;
    m_log.log(QStringLiteral("sig_ftp: the program is closing: transfer abandoned, ") + m_sigFile +
              QStringLiteral(" kept"));
    m_transfer.reset();
    leaveToOutbox({});
}

void SignatureUpload::end(End how)
{
    if (m_holdsOutbox) {
        m_holdsOutbox = false;
        m_ftp.outbox->tillUploadEnded();
    }
    if (!m_ended)
        return;
    // Runs once; the owner may go on to other work from it.
    const Ended ended = std::move(m_ended);
    m_ended = nullptr;
    ended(how);
}
