#include "request/pairinglock.h"

#include <QElapsedTimer>

PairingLock::PairingLock(std::function<qint64()> nowMs) : m_nowMs(std::move(nowMs))
{
    if (!m_nowMs) {
        QElapsedTimer since;
        since.start();
        m_nowMs = [since] { return since.elapsed() + 1; };
    }
}

bool PairingLock::isLocked() const
{
    return m_lockedUntil != 0 && m_nowMs() < m_lockedUntil;
}

bool PairingLock::wrongCode()
{
    if (++m_wrongInARow < kWrongCodesAllowed)
        return false;
    m_wrongInARow = 0;
    m_lockedUntil = m_nowMs() + kLockedMs;
    return true;
}
