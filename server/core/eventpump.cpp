#include "core/eventpump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void QtEventPump::wait(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void QtEventPump::processPending()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
