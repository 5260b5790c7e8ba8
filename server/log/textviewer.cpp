#include "log/textviewer.h"

#include <QProcess>

#include "log/activitylog.h"

QString DesktopTextViewer::name() const
{
    return QStringLiteral("xdg-open");
}

bool DesktopTextViewer::open(const QString& path)
{
    return QProcess::startDetached(name(), {path});
}

void view_log(ActivityLog& log, TextViewer& viewer)
{
    const QString path = log.log_path();
    log.log(QStringLiteral("View Log: path=[") + viewer.name() + QStringLiteral("] file=[") + path +
            QStringLiteral("] "));
    if (!viewer.open(path))
        log.log(QStringLiteral("View Log: the viewer [") + viewer.name() +
                QStringLiteral("] could not be started"));
}
