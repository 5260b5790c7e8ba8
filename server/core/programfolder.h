#pragma once

#include <QString>

// The program folder: the settings file, the activity log and the signatures folder live
// here. Paths are returned with the platform's separator.
class ProgramFolder
{
public:
    explicit ProgramFolder(QString folder);

    // The folder itself, without a trailing separator.
    const QString& path() const { return m_path; }
    // The folder joined with a file or folder name.
    QString file(const QString& name) const;
    QString settingsPath() const { return file(QStringLiteral("varnelpayment.ini")); }
    QString logPath() const { return file(QStringLiteral("varnelpayment.log")); }
    QString signaturesPath() const { return file(QStringLiteral("signatures")); }
    // The registered tills and their keys' hashes.
    QString tillsPath() const { return file(QStringLiteral("varnelpayment.tills")); }
    // The tills waiting to be paired, and their codes' hashes.
    QString pairingsPath() const { return file(QStringLiteral("varnelpayment.pairings")); }

private:
    QString m_path;
};
