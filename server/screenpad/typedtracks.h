#pragma once

#include <optional>

#include <QString>

// The two tracks of one card, each with its start and end sentinels.
struct CardTracks
{
    QString track1;
    QString track2;
};

// Reads what a keyboard-mode card reader types for one card: track 1 ("%" ... "?"), track 2
// (";" ... "?"), possibly a third track, then Return. A swipe counts only with a complete
// track 1 and every started track ended; anything less, or a pause of more than a second
// between keys, drops what was typed. Dropped keys are overwritten, not just forgotten.
class TypedTrackParser
{
public:
    // Longest tracks a card holds, sentinels included.
    static constexpr int kMaxTrack1 = 79;
    static constexpr int kMaxTrack2 = 40;
    static constexpr qint64 kIdleMs = 1000;

    TypedTrackParser() = default;
    TypedTrackParser(const TypedTrackParser&) = delete;
    TypedTrackParser& operator=(const TypedTrackParser&) = delete;
    ~TypedTrackParser() { clear(); }

    // One typed character at `atMs` on a monotonic clock.
    void key(QChar c, qint64 atMs);
    // Return: the tracks when they make a complete swipe. Either way the keys are gone after.
    std::optional<CardTracks> enter(qint64 atMs);
    // Drops the keys typed so far once they have waited longer than a second at `nowMs`.
    void expire(qint64 nowMs);
    // Drops the keys typed so far.
    void clear();
    // True while keys of an unfinished swipe are held.
    bool holdsKeys() const { return m_holdsKeys; }

private:
    enum class State { Between, Track1, Track2, Track3, Spoiled };
    void startTrack1(QChar sentinel);
    void append(QString& track, int maxLength, QChar c);

    State m_state = State::Between;
    QString m_track1;
    QString m_track2;
    bool m_track1Done = false;
    bool m_track2Done = false;
    bool m_holdsKeys = false;
    qint64 m_lastKeyMs = 0;
};
