#include "pad/signatureupload.h"

#include <memory>

#include <QFileInfo>
#include <QUrl>

#include "core/eventpump.h"
#include "core/failure.h"
#include "core/padtimeout.h"
#include "log/activitylog.h"
#include "pad/fileidentity.h"
#include "pad/ftpclient.h"
#include "pad/removewithoutforcing.h"
#include "settings/profilestore.h"

namespace {

const QString kScheme = QStringLiteral("ftp://");
// What the url line shows for a password that is set, whatever its length.
const QString kHiddenPassword = QStringLiteral("********");

QString readFtpSetting(const QString& settingsPath, const QString& key)
{
    QString value;
    ProfileStore::reg_get_value(settingsPath, QStringLiteral("FTP"), key, QStringLiteral("S"),
                                QString(), value);
    return value;
}

} // namespace

SignatureUpload::SignatureUpload(QString settingsPath, ActivityLog& log, FtpClient& ftp,
                                 EventPump& pump, PadTimeout& padTimeout)
    : m_settingsPath(std::move(settingsPath)), m_log(log), m_ftp(ftp), m_pump(pump),
      m_padTimeout(padTimeout)
{
}

QString SignatureUpload::withScheme(const QString& url)
{
    return url.contains(kScheme) ? url : kScheme + url;
}

std::optional<SignatureUpload::Server> SignatureUpload::serverOf(const QString& url)
{
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != QLatin1String("ftp") || parsed.host().isEmpty())
        return std::nullopt;
    const int port = parsed.port(21);
    if (port <= 0)
        return std::nullopt;
    return Server{parsed.host(), quint16(port)};
}

QString SignatureUpload::remoteName(const QString& sigFile, const QString& ftpPath)
{
    return ftpPath + QFileInfo(sigFile).fileName().toLower();
}

QString SignatureUpload::inetCmd(const QString& sigFile, const QString& ftpPath)
{
    return QStringLiteral("PUT ") + sigFile + QLatin1Char(' ') + remoteName(sigFile, ftpPath);
}

bool SignatureUpload::sig_ftp(const QString& sigFile, const QString& ftpPath,
                              const StopWhen& clientGone)
{
    try {
        return upload(sigFile, ftpPath, clientGone);
    } catch (const Failure& failure) {
        m_log.log(QStringLiteral("sig_ftp: ") + errorNumberText(failure.code()));
        return false;
    }
}

bool SignatureUpload::upload(const QString& sigFile, const QString& ftpPath,
                             const StopWhen& clientGone)
{
    if (m_padTimeout.seconds() == 0)
        m_padTimeout.setSeconds(PadTimeout::kDefaultSeconds);
    const QString setting = readFtpSetting(m_settingsPath, QStringLiteral("ftpURL"));
    const QString user = readFtpSetting(m_settingsPath, QStringLiteral("ftpUsername"));
    const QString password = readFtpSetting(m_settingsPath, QStringLiteral("ftpPassword"));
    const QString url = withScheme(setting);

    // The password never reaches the log; the line still tells whether one is set.
    m_log.log(QStringLiteral("sig_ftp: url=[") + url + QStringLiteral("] user=[") + user +
              QStringLiteral("] pass=[") + (password.isEmpty() ? QString() : kHiddenPassword) +
              QStringLiteral("] "));
    if (setting.isEmpty() || user.isEmpty() || password.isEmpty()) {
        m_log.log(QStringLiteral("sig_ftp: parameters not set"));
        return false;
    }
    const std::optional<Server> server = serverOf(url);
    if (!server)
        throw Failure(FailureCode::InvalidArgument, QStringLiteral("not an FTP server URL"));

    const QString command = inetCmd(sigFile, ftpPath);
    m_log.log(QStringLiteral("sig_ftp: inetCmd=[") + command + QLatin1Char(']'));
    // The file as the client reads it now: only this file is removed after the upload, never
    // one written at the same path meanwhile.
    const std::optional<FileIdentity> sent = FileIdentity::of(sigFile);
    bool succeeded = false;
    {
        const std::unique_ptr<FtpTransfer> transfer =
            m_ftp.execute(FtpUpload{server->host, server->port, user, password,
                                    m_padTimeout.seconds(), sigFile, remoteName(sigFile, ftpPath)});
        // The transfer's own end wakes the wait; other events run meanwhile.
        while (transfer->stillExecuting()) {
            if (!waitForTransfer(sigFile, clientGone))
                return false; // leaving the scope abandons the transfer
        }
        succeeded = transfer->succeeded();
        if (!succeeded)
            m_log.log(QStringLiteral("sig_ftp: transfer failed [") + transfer->failure() +
                      QLatin1Char(']'));
        // Leaving the scope ends the session with the server (its QUIT), not awaited.
    }
    if (!succeeded)
        return false;
    if (sent && FileIdentity::of(sigFile) == sent)
        removeWithoutForcing(sigFile);
    else if (QFileInfo::exists(sigFile))
        m_log.log(QStringLiteral("sig_ftp: ") + sigFile +
                  QStringLiteral(" was written again during the upload; the new file is kept"));
    return true;
}

bool SignatureUpload::waitForTransfer(const QString& sigFile, const StopWhen& clientGone)
{
    try {
        m_pump.waitForEvents();
    } catch (const Failure& failure) {
        if (failure.code() != FailureCode::Interrupted)
            throw;
        m_log.log(QStringLiteral("sig_ftp: the program is closing: transfer abandoned, ") +
                  sigFile + QStringLiteral(" kept"));
        return false;
    }
    if (clientGone && clientGone()) {
        m_log.log(QStringLiteral("sig_ftp: client gone: transfer abandoned, ") + sigFile +
                  QStringLiteral(" kept"));
        return false;
    }
    return true;
}
