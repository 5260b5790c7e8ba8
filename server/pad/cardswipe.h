#pragma once

#include <QString>

#include "pad/padwait.h"

// Asks the customer to swipe a card and ends with tracks 1 and 2. The pad is read every half
// second on a timer of the main loop, so other clients are served meanwhile.
class CardSwipe final : public PadWait
{
public:
    explicit CardSwipe(const PadContext& pad);

private:
    Outcome notEnabled() const override;
    void prepare() override;
    bool readPad() override;

    // Track 2 as last read: a later read of track 1 alone keeps it.
    QString m_track2;
};
