#include "core/defaultprogramfolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

bool sameFolder(const QString& a, const QString& b)
{
    const QString realA = QFileInfo(a).canonicalFilePath();
    return !realA.isEmpty() && realA == QFileInfo(b).canonicalFilePath();
}

} // namespace

DefaultProgramFolder defaultProgramFolder(const QString& executableDir,
                                          const QString& installedBinDir,
                                          const QString& xdgDataHome, const QString& homeDir)
{
    if (!sameFolder(executableDir, installedBinDir))
        return {executableDir, false};
    const QString dataHome = QDir::isAbsolutePath(xdgDataHome)
                                 ? xdgDataHome
                                 : QDir(homeDir).filePath(QStringLiteral(".local/share"));
    return {QDir::cleanPath(QDir(dataHome).filePath(QStringLiteral("varnelpayment"))), true};
}

bool makeProgramFolder(const QString& path, bool ownerOnly, QString* error)
{
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    if (QFileInfo(absolute).isDir())
        return true;
    // The parents are ordinary folders; only the program folder itself is made private, and
    // made so by mkdir itself, so that it is never readable by others even for a moment.
    const QString parent = QFileInfo(absolute).path();
    if (!QDir().mkpath(parent)) {
        if (error)
            *error = QStringLiteral("cannot create %1").arg(parent);
        return false;
    }
    const mode_t mode = ownerOnly ? 0700 : 0777;
    if (::mkdir(QFile::encodeName(absolute).constData(), mode) != 0 && errno != EEXIST) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!QFileInfo(absolute).isDir()) {
        if (error)
            *error = QStringLiteral("%1 is not a folder").arg(absolute);
        return false;
    }
    return true;
}
