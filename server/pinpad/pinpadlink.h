#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QMetaObject>
#include <QSerialPort>

#include "pinpad/pinpadframe.h"

class QIODevice;
class ScheduledCall;
class Scheduler;

// The packet exchange with the PIN pad over its open line. Sends a packet until the pad
// acknowledges it, acknowledges every good packet from the pad (and asks again for a damaged
// one) and keeps what the pad sent for its owner. Bytes arrive by readyRead and the wait for
// an acknowledgement is a scheduled call, so nothing waits in place. Every report to the
// owner runs from the event loop, never inside a signal of the line: the owner may close the
// line from it.
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
        // The line could not be written, or went away.
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
    using SendDone = std::function<void(Sent)>;

    static constexpr int kAckWaitMs = 1000;
    static constexpr int kMaxSends = 3;

    PinPadLink(QIODevice& line, Scheduler& scheduler);
    ~PinPadLink();
    PinPadLink(const PinPadLink&) = delete;
    PinPadLink& operator=(const PinPadLink&) = delete;

    // Sends the packet at most three times until the pad acknowledges it; after the third
    // failure sends EOT to end the exchange. `done` runs once with the outcome. One packet at
    // a time: a new send drops the one under way without its `done`.
    void send(const QByteArray& payload, SendDone done);
    // Runs whenever the pad sent something of its own or the line went away.
    void onChange(std::function<void()> changed) { m_changed = std::move(changed); }
    bool hasIncoming() const { return !m_incoming.empty(); }
    // An error the open line reported; one that ends the line ends every wait at once.
    void noteLineError(QSerialPort::SerialPortError error);
    // The device went away under the open line (unplugged, or the far end closed).
    bool lineLost() const { return m_lost; }
    Incoming takeIncoming();
    // Forgets what the pad sent before a new exchange.
    void discardIncoming() { m_incoming.clear(); }

private:
    void sendOnce();
    // The sending under way got its answer, its second passed, or the line went away.
    void answered();
    void finish(Sent sent);
    void readLine();
    bool write(const QByteArray& bytes);
    void notifyOwner();

    QIODevice& m_line;
    Scheduler& m_scheduler;
    PinPadFrameReader m_reader;
    std::deque<Incoming> m_incoming;
    QByteArray m_frame;
    SendDone m_done;
    int m_sendings = 0;
    Sent m_outcome = Sent::NoAnswer;
    bool m_awaitingReply = false;
    bool m_lost = false;
    // Damaged packets since the last good one.
    int m_damaged = 0;
    std::optional<PinPadFrameReader::Item::Kind> m_reply;
    // The acknowledgement's time limit, or the report of the send's outcome.
    std::unique_ptr<ScheduledCall> m_sendStep;
    std::unique_ptr<ScheduledCall> m_notify;
    std::function<void()> m_changed;
    QMetaObject::Connection m_readConnection;
};
