#pragma once

#include <deque>
#include <optional>

#include <QByteArray>
#include <QMetaObject>
#include <QSerialPort>

#include "pinpad/pinpadframe.h"

class EventPump;
class QIODevice;

// The packet exchange with the PIN pad over its open line. Sends a packet until the pad
// acknowledges it, acknowledges every good packet from the pad (and asks again for a damaged
// one) and keeps what the pad sent for the caller. Waits run in the event pump, so the
// server goes on serving other events meanwhile.
class PinPadLink
{
public:
    enum class Sent {
        Acknowledged,
        // No answer within a second, three times.
        NoAnswer,
        // The pad answered NAK to the third sending.
        Refused,
        // The pad answered EOT instead of ACK.
        Ended,
        // The line could not be written.
        LineFailed
    };
    // What the pad sent on its own: a packet, or EOT (an empty payload).
    struct Incoming
    {
        bool endOfExchange = false;
        QByteArray payload;
        // The EOT came after damaged packets that were asked for again: the pad gave up
        // sending, nobody chose to end the exchange.
        bool gaveUp = false;
    };

    static constexpr int kAckWaitMs = 1000;
    static constexpr int kMaxSends = 3;

    PinPadLink(QIODevice& line, EventPump& pump);
    ~PinPadLink();
    PinPadLink(const PinPadLink&) = delete;
    PinPadLink& operator=(const PinPadLink&) = delete;

    // Sends the packet at most three times until the pad acknowledges it; after the third
    // failure sends EOT to end the exchange.
    Sent send(const QByteArray& payload);
    bool hasIncoming() const { return !m_incoming.empty(); }
    // An error the open line reported; one that ends the line ends every wait at once.
    void noteLineError(QSerialPort::SerialPortError error);
    // The device went away under the open line (unplugged, or the far end closed).
    bool lineLost() const { return m_lost; }
    Incoming takeIncoming();
    // Forgets what the pad sent before a new exchange.
    void discardIncoming() { m_incoming.clear(); }

private:
    void readLine();
    bool write(const QByteArray& bytes);

    QIODevice& m_line;
    EventPump& m_pump;
    PinPadFrameReader m_reader;
    std::deque<Incoming> m_incoming;
    bool m_awaitingReply = false;
    bool m_lost = false;
    // Damaged packets since the last good one.
    int m_damaged = 0;
    std::optional<PinPadFrameReader::Item::Kind> m_reply;
    QMetaObject::Connection m_readConnection;
};
