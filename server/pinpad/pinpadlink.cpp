#include "pinpad/pinpadlink.h"

#include <utility>

#include <QIODevice>

#include "core/scheduler.h"
#include "pinpad/serialerror.h"

PinPadLink::PinPadLink(QIODevice& line, Scheduler& scheduler) : m_line(line), m_scheduler(scheduler)
{
    m_readConnection =
        QObject::connect(&m_line, &QIODevice::readyRead, &m_line, [this] { readLine(); });
}

PinPadLink::~PinPadLink()
{
    QObject::disconnect(m_readConnection);
}

void PinPadLink::send(const QByteArray& payload, SendDone done)
{
    m_frame = PinPadFrame::encode(payload);
    m_done = std::move(done);
    m_sendings = 0;
    m_outcome = Sent::NoAnswer;
    sendOnce();
}

void PinPadLink::sendOnce()
{
    m_reply.reset();
    if (m_lost || !write(m_frame)) {
        finish(Sent::LineFailed);
        return;
    }
    ++m_sendings;
    m_awaitingReply = true;
    m_sendStep = m_scheduler.callAfter(kAckWaitMs, [this] {
        m_awaitingReply = false;
        answered();
    });
}

void PinPadLink::answered()
{
    using Item = PinPadFrameReader::Item;
    // An answer that came before the line went away still counts: the pad took the packet.
    if (m_reply == Item::Ack)
        return finish(Sent::Acknowledged);
    if (m_reply == Item::Eot)
        return finish(Sent::Ended);
    if (m_lost)
        return finish(Sent::LineFailed);
    m_outcome = m_reply == Item::Nak ? Sent::Refused : Sent::NoAnswer;
    if (m_sendings < kMaxSends)
        return sendOnce();
    write(QByteArray(1, PinPadFrame::kEot));
    finish(m_outcome);
}

void PinPadLink::finish(Sent sent)
{
    m_awaitingReply = false;
    // From the event loop: the owner may send again or close the line from `done`.
    m_sendStep = m_scheduler.callAfter(0, [this, sent] {
        // Last: `done` may destroy this link.
        const SendDone done = std::exchange(m_done, {});
        if (done)
            done(sent);
    });
}

void PinPadLink::noteLineError(QSerialPort::SerialPortError error)
{
    if (!SerialError::endsLine(error) || m_lost)
        return;
    m_lost = true;
    if (m_awaitingReply) {
        // The acknowledgement cannot come: the send ends now, not after its second.
        m_awaitingReply = false;
        m_sendStep = m_scheduler.callAfter(0, [this] { answered(); });
    }
    notifyOwner();
}

PinPadLink::Incoming PinPadLink::takeIncoming()
{
    Incoming first = m_incoming.front();
    m_incoming.pop_front();
    return first;
}

void PinPadLink::readLine()
{
    using Item = PinPadFrameReader::Item;
    m_reader.feed(m_line.readAll());
    bool incoming = false;
    while (const std::optional<Item> item = m_reader.next()) {
        // Only the first ACK, NAK or EOT after a packet answers it: what follows in the same
        // read (the customer's cancel right after the PIN request's ACK) is the pad's own.
        const bool isReply = m_awaitingReply && !m_reply;
        switch (item->kind) {
        case Item::Ack:
        case Item::Nak:
            if (isReply)
                m_reply = item->kind;
            break;
        case Item::Eot:
            if (isReply) {
                m_reply = item->kind;
            } else {
                m_incoming.push_back({true, {}, m_damaged > 0});
                incoming = true;
            }
            m_damaged = 0;
            break;
        case Item::Frame:
            m_damaged = 0;
            write(QByteArray(1, PinPadFrame::kAck));
            m_incoming.push_back({false, item->payload});
            incoming = true;
            break;
        case Item::BadFrame:
            // The pad sends it again.
            ++m_damaged;
            write(QByteArray(1, PinPadFrame::kNak));
            break;
        }
    }
    if (m_awaitingReply && m_reply) {
        // The answer ends the second's wait; the outcome is taken outside the line's signal.
        m_awaitingReply = false;
        m_sendStep = m_scheduler.callAfter(0, [this] { answered(); });
    }
    if (incoming)
        notifyOwner();
}

bool PinPadLink::write(const QByteArray& bytes)
{
    if (m_line.write(bytes) != bytes.size())
        return false;
    // Out at once: the port may be closed right after the last acknowledgement.
    if (auto* port = qobject_cast<QSerialPort*>(&m_line))
        port->flush();
    return true;
}

void PinPadLink::notifyOwner()
{
    if (m_notify)
        return; // one report covers everything that came before it runs
    m_notify = m_scheduler.callAfter(0, [this] {
        // Last: the owner may destroy this link.
        const std::function<void()> changed = m_changed;
        m_notify.reset();
        if (changed)
            changed();
    });
}
