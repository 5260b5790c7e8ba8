#include "shell/programicon.h"

QPixmap programPicture()
{
    return QPixmap(QStringLiteral(":/varnelpayment/varnelpayment.png"));
}

QIcon programIcon()
{
    return QIcon(programPicture());
}
