#include "shell/launchertextviewer.h"

#include <QUrl>

#include "shell/urllauncher.h"

QString LauncherTextViewer::name() const
{
#if defined(Q_OS_WIN)
    return QStringLiteral("ShellExecute");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("open");
#else
    return QStringLiteral("xdg-open");
#endif
}

bool LauncherTextViewer::open(const QString& path)
{
    return m_launcher.openUrl(QUrl::fromLocalFile(path));
}
