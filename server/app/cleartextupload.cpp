#include "app/cleartextupload.h"

#include <QHostAddress>

#include "pad/signatureupload.h"

std::optional<QString> cleartextUploadWarning(const FtpSettings& ftp, const FtpSecurity& security)
{
    if (ftp.url.trimmed().isEmpty() || security.explicitTls)
        return std::nullopt;
    const QString url = SignatureUpload::withScheme(ftp.url);
    const std::optional<SignatureUpload::Server> server = SignatureUpload::serverOf(url);
    if (!server || server->protocol != FtpProtocol::Ftp)
        return std::nullopt;
    const QHostAddress address(server->host);
    if (server->host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
        address.isLoopback())
        return std::nullopt;
    return QStringLiteral("sig_ftp: warning: ftpUrl=[") + url +
           QStringLiteral("] sends the FTP password and the signature pictures across the "
                          "network in clear; set [FTP] TLS=Y for a server that takes TLS, or "
                          "use sftp://");
}
