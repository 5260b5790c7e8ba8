#include "core/scheduler.h"

#include <QTimer>

namespace {

// A single-shot timer of its own: gone with the handle, so a cancelled call never runs.
class QtScheduledCall final : public ScheduledCall
{
public:
    QtScheduledCall(int milliseconds, std::function<void()> call) : m_call(std::move(call))
    {
        m_timer.setSingleShot(true);
        // A coarse timer may fire up to 5% early; a waiting step must never come before its
        // time.
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            // The call may destroy this handle: it runs last, from a copy.
            const std::function<void()> call = m_call;
            call();
        });
        m_timer.start(milliseconds);
    }

private:
    QTimer m_timer;
    std::function<void()> m_call;
};

} // namespace

std::unique_ptr<ScheduledCall> QtScheduler::callAfter(int milliseconds, std::function<void()> call)
{
    return std::make_unique<QtScheduledCall>(milliseconds, std::move(call));
}
