#include "core/eventpump.h"

#include <QAbstractEventDispatcher>
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

void QtEventPump::waitUntil(int milliseconds, const StopWhen& done)
{
    throwIfInterrupted();
    if (done())
        return;
    QEventLoop loop;
    // A timer of this call's own, gone with it when the answer ends the step early.
    QTimer step;
    step.setSingleShot(true);
    QObject::connect(&step, &QTimer::timeout, &loop, &QEventLoop::quit);
    step.start(milliseconds);
    // The loop is about to sleep once every batch of pending events has run: the moment to
    // look whether the awaited answer came.
    const QMetaObject::Connection check =
        QObject::connect(QAbstractEventDispatcher::instance(),
                         &QAbstractEventDispatcher::aboutToBlock, &loop, [&loop, &done] {
                             if (done())
                                 loop.quit();
                         });
    loop.exec();
    QObject::disconnect(check);
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
