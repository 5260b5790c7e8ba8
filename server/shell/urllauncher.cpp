#include "shell/urllauncher.h"

#include <QDesktopServices>
#include <QUrl>

bool DesktopUrlLauncher::openUrl(const QUrl& url)
{
    return QDesktopServices::openUrl(url);
}
