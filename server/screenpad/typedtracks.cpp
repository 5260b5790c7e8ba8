#include "screenpad/typedtracks.h"

namespace {

constexpr QChar kTrack1Start = u'%';
constexpr QChar kTrack2Start = u';';
constexpr QChar kEnd = u'?';

// Magnetic track characters are printable ASCII; anything else is a misread.
bool isTrackCharacter(QChar c)
{
    return c.unicode() >= 0x20 && c.unicode() <= 0x7e;
}

void wipe(QString& text)
{
    text.fill(QChar(0));
    text.clear();
}

} // namespace

void TypedTrackParser::clear()
{
    wipe(m_track1);
    wipe(m_track2);
    m_track1Done = false;
    m_track2Done = false;
    m_holdsKeys = false;
    m_state = State::Between;
}

void TypedTrackParser::expire(qint64 nowMs)
{
    if (m_holdsKeys && nowMs - m_lastKeyMs > kIdleMs)
        clear();
}

void TypedTrackParser::startTrack1(QChar sentinel)
{
    clear();
    m_holdsKeys = true;
    m_state = State::Track1;
    // Room for the whole track up front, so no copy of it is left behind by a reallocation.
    m_track1.reserve(kMaxTrack1);
    m_track1.append(sentinel);
}

void TypedTrackParser::append(QString& track, int maxLength, QChar c)
{
    if (!isTrackCharacter(c) || track.size() >= maxLength) {
        m_state = State::Spoiled;
        return;
    }
    track.append(c);
    if (c == kEnd) {
        (m_state == State::Track1 ? m_track1Done : m_track2Done) = true;
        m_state = State::Between;
    }
}

void TypedTrackParser::key(QChar c, qint64 atMs)
{
    expire(atMs);
    m_lastKeyMs = atMs;
    // A new track 1 is a new card, whatever came before it.
    if (c == kTrack1Start) {
        startTrack1(c);
        return;
    }
    m_holdsKeys = true;
    switch (m_state) {
    case State::Between:
        if (c == kTrack2Start && !m_track2Done) {
            m_state = State::Track2;
            m_track2.reserve(kMaxTrack2);
            m_track2.append(c);
        } else if (c == kTrack2Start) {
            // Track 3 starts like track 2; this server does not use it.
            m_state = State::Track3;
        }
        // Anything else between tracks is the reader's own framing.
        break;
    case State::Track1:
        append(m_track1, kMaxTrack1, c);
        break;
    case State::Track2:
        if (c == kTrack2Start)
            m_state = State::Spoiled;
        else
            append(m_track2, kMaxTrack2, c);
        break;
    case State::Track3:
        if (c == kEnd)
            m_state = State::Between;
        break;
    case State::Spoiled:
        break;
    }
}

std::optional<CardTracks> TypedTrackParser::enter(qint64 atMs)
{
    expire(atMs);
    std::optional<CardTracks> tracks;
    if (m_state == State::Between && m_track1Done)
        tracks = CardTracks{m_track1, m_track2};
    clear();
    return tracks;
}
