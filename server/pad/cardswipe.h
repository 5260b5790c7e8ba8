#pragma once

#include <memory>

#include <QString>

#include "core/scheduler.h"
#include "pad/padcontext.h"
#include "request/operation.h"

// Asks the customer to swipe a card and ends with tracks 1 and 2 as the reply. The pad is read
// every half second on a timer of the main loop, so other clients are served meanwhile.
class CardSwipe final : public Operation
{
public:
    // Length of one waiting step.
    static constexpr int kStepMs = 500;

    // Ends early, at its next step, once `clientGone` holds.
    CardSwipe(const PadContext& pad, StopWhen clientGone);

    // Ends with exactly one reply: the tracks, a time-out, not set up, or the error caught;
    // or with none when the client has gone.
    void start(Finished finished) override;
    // Ends a wait at once as an interrupted one: its error line and reply ("Error( 18)").
    void close() override;

private:
    void step();
    void finish(std::optional<Reply> reply);
    void fail(int code);

    PadContext m_pad;
    StopWhen m_clientGone;
    Finished m_finished;
    qint64 m_startedMs = 0;
    // Track 2 as last read: a later read of track 1 alone keeps it.
    QString m_track2;
    std::unique_ptr<ScheduledCall> m_step;
};
