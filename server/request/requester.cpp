#include "request/requester.h"

#include <QTimer>

void Requester::closeUnlessKeyShownWithin(int seconds, std::function<void()> close)
{
    // Precise: a coarse timer of ten seconds may end half a second early. A lambda, not a member
    // slot, whose receiver check fails under the sanitizers while descriptors have run out.
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, this, [this, close = std::move(close)] {
        if (!m_keyShown)
            close();
    });
}
