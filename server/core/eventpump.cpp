#include "core/eventpump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "core/failure.h"

void QtEventPump::wait(int milliseconds)
{
    throwIfInterrupted();
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    throwIfInterrupted();
}

void QtEventPump::processPending()
{
    throwIfInterrupted();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    throwIfInterrupted();
}

void QtEventPump::waitForEvents()
{
    throwIfInterrupted();
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    throwIfInterrupted();
}

void QtEventPump::throwIfInterrupted() const
{
    if (m_interrupted)
        throw Failure(FailureCode::Interrupted);
}
