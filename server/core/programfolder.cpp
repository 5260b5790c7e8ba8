#include "core/programfolder.h"

#include <QDir>

ProgramFolder::ProgramFolder(QString folder)
{
    QString clean = QDir::cleanPath(QDir(folder).absolutePath());
    if (clean.size() > 1 && clean.endsWith(QLatin1Char('/')))
        clean.chop(1);
    m_path = QDir::toNativeSeparators(clean);
}

QString ProgramFolder::file(const QString& name) const
{
    return m_path + QDir::separator() + name;
}
