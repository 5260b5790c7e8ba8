#include "screenpad/evdevkeys.h"

#include <array>

namespace {

constexpr int kPressed = 1;
constexpr int kReleased = 0;

struct KeyCharacters
{
    unsigned short code;
    char plain;
    char shifted;
};

// The keys that can appear in a track, on the US layout.
constexpr std::array kKeys = {
    KeyCharacters{KEY_1, '1', '!'},           KeyCharacters{KEY_2, '2', '@'},
    KeyCharacters{KEY_3, '3', '#'},           KeyCharacters{KEY_4, '4', '$'},
    KeyCharacters{KEY_5, '5', '%'},           KeyCharacters{KEY_6, '6', '^'},
    KeyCharacters{KEY_7, '7', '&'},           KeyCharacters{KEY_8, '8', '*'},
    KeyCharacters{KEY_9, '9', '('},           KeyCharacters{KEY_0, '0', ')'},
    KeyCharacters{KEY_MINUS, '-', '_'},       KeyCharacters{KEY_EQUAL, '=', '+'},
    KeyCharacters{KEY_Q, 'q', 'Q'},           KeyCharacters{KEY_W, 'w', 'W'},
    KeyCharacters{KEY_E, 'e', 'E'},           KeyCharacters{KEY_R, 'r', 'R'},
    KeyCharacters{KEY_T, 't', 'T'},           KeyCharacters{KEY_Y, 'y', 'Y'},
    KeyCharacters{KEY_U, 'u', 'U'},           KeyCharacters{KEY_I, 'i', 'I'},
    KeyCharacters{KEY_O, 'o', 'O'},           KeyCharacters{KEY_P, 'p', 'P'},
    KeyCharacters{KEY_LEFTBRACE, '[', '{'},   KeyCharacters{KEY_RIGHTBRACE, ']', '}'},
    KeyCharacters{KEY_A, 'a', 'A'},           KeyCharacters{KEY_S, 's', 'S'},
    KeyCharacters{KEY_D, 'd', 'D'},           KeyCharacters{KEY_F, 'f', 'F'},
    KeyCharacters{KEY_G, 'g', 'G'},           KeyCharacters{KEY_H, 'h', 'H'},
    KeyCharacters{KEY_J, 'j', 'J'},           KeyCharacters{KEY_K, 'k', 'K'},
    KeyCharacters{KEY_L, 'l', 'L'},           KeyCharacters{KEY_SEMICOLON, ';', ':'},
    KeyCharacters{KEY_APOSTROPHE, '\'', '"'}, KeyCharacters{KEY_GRAVE, '`', '~'},
    KeyCharacters{KEY_BACKSLASH, '\\', '|'},  KeyCharacters{KEY_Z, 'z', 'Z'},
    KeyCharacters{KEY_X, 'x', 'X'},           KeyCharacters{KEY_C, 'c', 'C'},
    KeyCharacters{KEY_V, 'v', 'V'},           KeyCharacters{KEY_B, 'b', 'B'},
    KeyCharacters{KEY_N, 'n', 'N'},           KeyCharacters{KEY_M, 'm', 'M'},
    KeyCharacters{KEY_COMMA, ',', '<'},       KeyCharacters{KEY_DOT, '.', '>'},
    KeyCharacters{KEY_SLASH, '/', '?'},       KeyCharacters{KEY_SPACE, ' ', ' '},
};

bool isShift(unsigned short code)
{
    return code == KEY_LEFTSHIFT || code == KEY_RIGHTSHIFT;
}

} // namespace

std::optional<ReaderKey> EvdevKeyDecoder::decode(const input_event& event)
{
    if (event.type != EV_KEY)
        return std::nullopt;
    if (isShift(event.code)) {
        if (event.value == kPressed)
            ++m_shiftsDown;
        else if (event.value == kReleased && m_shiftsDown > 0)
            --m_shiftsDown;
        return std::nullopt;
    }
    if (event.value != kPressed)
        return std::nullopt;
    if (event.code == KEY_ENTER || event.code == KEY_KPENTER)
        return ReaderKey{ReaderKey::Enter, {}};
    for (const KeyCharacters& key : kKeys)
        if (key.code == event.code)
            return ReaderKey{ReaderKey::Character,
                             QChar(QLatin1Char(m_shiftsDown > 0 ? key.shifted : key.plain))};
    return std::nullopt;
}
