#include "sshdprocess.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QUuid>

#include "daemonprocess.h"
#include "serverprocess.h"
#include "testfiles.h"

namespace {

const QString kUser = QStringLiteral("varnelsftp");

} // namespace

SshdProcess::SshdProcess() = default;

SshdProcess::~SshdProcess()
{
    DaemonProcess::stop(m_process);
}

QString SshdProcess::user() const
{
    return kUser;
}

bool SshdProcess::start()
{
    const QDir dir(m_dir.path());
    if (!dir.mkpath(QStringLiteral("in")) || !QDir().mkpath(QStringLiteral("/run/sshd")) ||
        ::chmod(QFile::encodeName(m_dir.path()).constData(), 0755) != 0 ||
        ::chmod(QFile::encodeName(uploads()).constData(), 0777) != 0) {
        m_why = QStringLiteral("cannot make the server's folders");
        return false;
    }
    QString ignored;
    if (!DaemonProcess::run(QStringLiteral("/usr/bin/id"), {kUser}, &ignored) &&
        !DaemonProcess::run(QStringLiteral("/usr/sbin/useradd"),
                            {QStringLiteral("-M"), QStringLiteral("-d"), m_dir.path(),
                             QStringLiteral("-s"), QStringLiteral("/bin/sh"), kUser},
                            &m_why))
        return false;
    m_password = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString hostKey = dir.filePath(QStringLiteral("host_key"));
    const QString otherKey = dir.filePath(QStringLiteral("other_key"));
    const auto keygen = [this](const QString& path, bool pem) {
        QStringList arguments{QStringLiteral("-q"),
                              QStringLiteral("-t"),
                              QStringLiteral("ecdsa"),
                              QStringLiteral("-N"),
                              QString(),
                              QStringLiteral("-f"),
                              path};
        // Debian's libssh2 reads a PEM user key, not OpenSSH's own format.
        if (pem)
            arguments << QStringLiteral("-m") << QStringLiteral("PEM");
        return DaemonProcess::run(QStringLiteral("/usr/bin/ssh-keygen"), arguments, &m_why);
    };
    if (!DaemonProcess::run(
            QStringLiteral("/usr/sbin/chpasswd"), {}, &m_why,
            (kUser + QLatin1Char(':') + m_password + QLatin1Char('\n')).toLatin1()) ||
        !keygen(hostKey, false) || !keygen(otherKey, false) || !keygen(userKey(), true))
        return false;
    QFile::copy(userKey() + QStringLiteral(".pub"),
                dir.filePath(QStringLiteral("authorized_keys")));

    for (int attempt = 0; attempt < 3; ++attempt) {
        if (startOnFreePort()) {
            // What ssh-keyscan would write: the server's address with its port, and its key.
            const auto knownLine = [this](const QString& keyFile) {
                const QByteArray key = TestFiles::readAll(keyFile + QStringLiteral(".pub"));
                return "[127.0.0.1]:" + QByteArray::number(m_port) + ' ' +
                       key.left(key.lastIndexOf(' ')) + '\n';
            };
            TestFiles::writeAll(knownHosts(), knownLine(hostKey));
            TestFiles::writeAll(wrongKnownHosts(), knownLine(otherKey));
            return true;
        }
        DaemonProcess::stop(m_process);
    }
    m_why = QStringLiteral("sshd did not come up: ") +
            QString::fromLocal8Bit(m_process.readAllStandardError());
    return false;
}

bool SshdProcess::startOnFreePort()
{
    m_port = ServerProcess::freePort();
    const QDir dir(m_dir.path());
    const QString config = dir.filePath(QStringLiteral("sshd_config"));
    const QStringList lines{
        QStringLiteral("Port %1").arg(m_port),
        QStringLiteral("ListenAddress 127.0.0.1"),
        QStringLiteral("HostKey ") + dir.filePath(QStringLiteral("host_key")),
        QStringLiteral("PidFile ") + dir.filePath(QStringLiteral("sshd.pid")),
        QStringLiteral("AuthorizedKeysFile ") + dir.filePath(QStringLiteral("authorized_keys")),
        QStringLiteral("PasswordAuthentication yes"),
        QStringLiteral("KbdInteractiveAuthentication no"),
        QStringLiteral("UsePAM no"),
        QStringLiteral("StrictModes no"),
        QStringLiteral("AllowUsers ") + kUser,
        QStringLiteral("Subsystem sftp internal-sftp"),
    };
    TestFiles::writeAll(config, lines.join(QLatin1Char('\n')).toLocal8Bit() + '\n');
    m_process.setProgram(QStringLiteral("/usr/sbin/sshd"));
    m_process.setArguments(
        {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"), config});
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.start();
    return DaemonProcess::waitUntilListening(m_process, m_port, QByteArray("SSH-2.0"));
}
