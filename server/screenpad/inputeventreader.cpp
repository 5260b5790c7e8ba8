#include "screenpad/inputeventreader.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <QSocketNotifier>

InputEventReader::InputEventReader(int fd, QObject* parent)
    : QObject(parent), m_fd(fd), m_notifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &InputEventReader::readAvailable);
}

InputEventReader::~InputEventReader()
{
    // The partial record may hold a key of a track.
    m_pending.fill('\0');
}

void InputEventReader::stop()
{
    m_stopped = true;
    m_notifier->setEnabled(false);
}

void InputEventReader::readAvailable()
{
    if (m_stopped)
        return;
    char buffer[64 * sizeof(input_event)];
    for (;;) {
        const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (got <= 0) {
            stop();
            Q_EMIT failed(got == 0 ? QStringLiteral("the device closed")
                                   : QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_pending.append(buffer, got);
        std::memset(buffer, 0, size_t(got));
        qsizetype used = 0;
        while (m_pending.size() - used >= qsizetype(sizeof(input_event))) {
            input_event event;
            std::memcpy(&event, m_pending.constData() + used, sizeof event);
            used += sizeof event;
            if (const std::optional<ReaderKey> key = m_decoder.decode(event))
                Q_EMIT keyTyped(*key);
            // A key may end the swipe, and the owner stop reading.
            if (m_stopped)
                return;
        }
        std::memset(m_pending.data(), 0, size_t(used));
        m_pending.remove(0, used);
    }
}
