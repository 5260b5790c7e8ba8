#include "doors/connectionlimit.h"

#include <sys/resource.h>

#include "log/activitylog.h"

void ConnectionLimit::fitToFileLimit(ActivityLog& log)
{
    struct rlimit files = {};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0)
        return;
    if (files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
    }
    if (files.rlim_cur == RLIM_INFINITY)
        return;
    const rlim_t room =
        files.rlim_cur > rlim_t(kReservedDescriptors) ? files.rlim_cur - kReservedDescriptors : 1;
    if (rlim_t(m_max) <= room)
        return;
    log.log(QStringLiteral("Socket: MaxConnections=[") + QString::number(m_max) +
            QStringLiteral("] lowered to [") + QString::number(room) +
            QStringLiteral("] by the file limit [") + QString::number(files.rlim_cur) +
            QLatin1Char(']'));
    m_max = int(room);
}
