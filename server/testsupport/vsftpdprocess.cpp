#include "vsftpdprocess.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>

#include "daemonprocess.h"
#include "serverprocess.h"

VsftpdProcess::VsftpdProcess(bool implicitTls) : m_implicitTls(implicitTls) {}

VsftpdProcess::~VsftpdProcess()
{
    DaemonProcess::stop(m_process);
}

QString VsftpdProcess::protocolLog() const
{
    QFile log(m_dir.filePath(QStringLiteral("vsftpd.log")));
    return log.open(QIODevice::ReadOnly) ? QString::fromLatin1(log.readAll()) : QString();
}

bool VsftpdProcess::start()
{
    const QDir dir(m_dir.path());
    // vsftpd refuses a root its anonymous user could write to; the folder under it is open.
    if (!dir.mkpath(QStringLiteral("root/in")) || !dir.mkpath(QStringLiteral("empty")) ||
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) != 0 ||
        ::chmod(QFile::encodeName(uploads()).constData(), 0777) != 0) {
        m_why = QStringLiteral("cannot make the server's folders");
        return false;
    }
    if (!DaemonProcess::run(
            QStringLiteral("/usr/bin/openssl"),
            {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
             QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
             QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes"),
             QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
             QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-days"),
             QStringLiteral("2"), QStringLiteral("-keyout"),
             dir.filePath(QStringLiteral("key.pem")), QStringLiteral("-out"), certificate()},
            &m_why))
        return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnFreePort())
            return true;
        DaemonProcess::stop(m_process);
    }
    m_why = QStringLiteral("vsftpd did not come up: ") +
            QString::fromLocal8Bit(m_process.readAllStandardError());
    return false;
}

bool VsftpdProcess::startOnFreePort()
{
    m_port = ServerProcess::freePort();
    const QDir dir(m_dir.path());
    const QString config = dir.filePath(QStringLiteral("vsftpd.conf"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QStringList lines{
        QStringLiteral("listen=YES"),
        QStringLiteral("listen_address=127.0.0.1"),
        QStringLiteral("listen_port=%1").arg(m_port),
        QStringLiteral("background=NO"),
        QStringLiteral("seccomp_sandbox=NO"),
        QStringLiteral("local_enable=NO"),
        QStringLiteral("anonymous_enable=YES"),
        QStringLiteral("no_anon_password=YES"),
        QStringLiteral("ftp_username=ftp"),
        QStringLiteral("anon_root=") + dir.filePath(QStringLiteral("root")),
        QStringLiteral("secure_chroot_dir=") + dir.filePath(QStringLiteral("empty")),
        QStringLiteral("write_enable=YES"),
        QStringLiteral("anon_upload_enable=YES"),
        QStringLiteral("anon_other_write_enable=YES"),
        QStringLiteral("anon_umask=022"),
        QStringLiteral("ssl_enable=YES"),
        QStringLiteral("allow_anon_ssl=YES"),
        QStringLiteral("force_anon_logins_ssl=YES"),
        QStringLiteral("force_anon_data_ssl=YES"),
        QStringLiteral("require_ssl_reuse=NO"),
        QStringLiteral("ssl_ciphers=HIGH"),
        QStringLiteral("implicit_ssl=") + QLatin1String(m_implicitTls ? "YES" : "NO"),
        QStringLiteral("rsa_cert_file=") + certificate(),
        QStringLiteral("rsa_private_key_file=") + dir.filePath(QStringLiteral("key.pem")),
        QStringLiteral("log_ftp_protocol=YES"),
        QStringLiteral("xferlog_enable=YES"),
        QStringLiteral("vsftpd_log_file=") + dir.filePath(QStringLiteral("vsftpd.log")),
    };
    file.write(lines.join(QLatin1Char('\n')).toLocal8Bit() + '\n');
    file.close();
    m_process.setProgram(QStringLiteral("/usr/sbin/vsftpd"));
    m_process.setArguments({config});
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start();
    return DaemonProcess::waitUntilListening(m_process, m_port,
                                             m_implicitTls ? QByteArray() : QByteArray("220"));
}
