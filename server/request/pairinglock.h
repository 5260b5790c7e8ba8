#pragma once

#include <functional>

#include <QtGlobal>

// Wrong pairing codes in a row lock pairing for a while, whoever sent them, so that nobody
// can guess a waiting till's code before it expires.
class PairingLock
{
public:
    static constexpr int kWrongCodesAllowed = 5;
    static constexpr qint64 kLockedMs = 60 * 1000;

    // `nowMs` reads a monotonic clock in milliseconds; the process's own by default.
    explicit PairingLock(std::function<qint64()> nowMs = {});

    bool isLocked() const;
    // A wrong code; true when it is the one that locks pairing.
    bool wrongCode();
    // A till was paired: the wrong codes before it are forgotten.
    void paired() { m_wrongInARow = 0; }

private:
    std::function<qint64()> m_nowMs;
    int m_wrongInARow = 0;
    // When the lock ends; 0 while not locked.
    qint64 m_lockedUntil = 0;
};
