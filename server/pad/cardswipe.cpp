#include "pad/cardswipe.h"

#include "pad/padconnection.h"
#include "pad/paddriver.h"
#include "pad/padvariables.h"

CardSwipe::CardSwipe(const PadContext& pad)
    : PadWait(pad, {QStringLiteral("qp6100_get_swipe"), QStringLiteral("Card Swipe Timeout"),
                    OperationKind::Swipe})
{
}

Outcome CardSwipe::notEnabled() const
{
    return outcome::PadNotSetUp{};
}

void CardSwipe::prepare()
{
    m_pad.variables.set_track_vars();
    m_pad.connection.show_pad_form(PadForm::kStart);
}

bool CardSwipe::readPad()
{
    QString track1;
    qint16 status = 0;
    m_pad.driver.GetVariable(PadVariable::kTrack1, track1, status);
    if (status != 0) {
        qint16 ignored = 0;
        m_pad.driver.GetVariable(PadVariable::kTrack2, m_track2, ignored);
    }
    if (!holdsData(track1))
        return false;
    finish(outcome::CardRead{track1, m_track2});
    return true;
}
