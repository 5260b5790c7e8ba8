#pragma once

#include <linux/input.h>

#include <optional>

#include <QChar>

// What one key of a keyboard-mode card reader stands for.
struct ReaderKey
{
    enum Kind { Character, Enter };
    Kind kind = Character;
    QChar character;
    friend bool operator==(const ReaderKey&, const ReaderKey&) = default;
};

// Decodes a keyboard's input events into the characters it types, on the US layout that card
// readers use, following the shift keys. Key releases, repeats, synchronisation and
// scan-code events type nothing.
class EvdevKeyDecoder
{
public:
    std::optional<ReaderKey> decode(const input_event& event);
    // Forgets the shift state (the device was closed).
    void reset() { m_shiftsDown = 0; }

private:
    int m_shiftsDown = 0;
};
