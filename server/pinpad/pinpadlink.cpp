#include "pinpad/pinpadlink.h"

#include <QIODevice>

#include "core/eventpump.h"
#include "pinpad/serialerror.h"

PinPadLink::PinPadLink(QIODevice& line, EventPump& pump) : m_line(line), m_pump(pump)
{
    m_readConnection =
        QObject::connect(&m_line, &QIODevice::readyRead, &m_line, [this] { readLine(); });
}

PinPadLink::~PinPadLink()
{
    QObject::disconnect(m_readConnection);
}

PinPadLink::Sent PinPadLink::send(const QByteArray& payload)
{
    using Item = PinPadFrameReader::Item;
    const QByteArray frame = PinPadFrame::encode(payload);
    Sent outcome = Sent::NoAnswer;
    for (int sending = 0; sending < kMaxSends; ++sending) {
        m_reply.reset();
        if (m_lost || !write(frame))
            return Sent::LineFailed;
        m_awaitingReply = true;
        m_pump.waitUntil(kAckWaitMs, [this] { return m_reply.has_value() || lineLost(); });
        m_awaitingReply = false;
        if (lineLost())
            return Sent::LineFailed;
        if (m_reply == Item::Ack)
            return Sent::Acknowledged;
        if (m_reply == Item::Eot)
            return Sent::Ended;
        outcome = m_reply == Item::Nak ? Sent::Refused : Sent::NoAnswer;
    }
    write(QByteArray(1, PinPadFrame::kEot));
    return outcome;
}

void PinPadLink::noteLineError(QSerialPort::SerialPortError error)
{
    if (SerialError::endsLine(error))
        m_lost = true;
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
            if (isReply)
                m_reply = item->kind;
            else
                m_incoming.push_back({true, {}, m_damaged > 0});
            m_damaged = 0;
            break;
        case Item::Frame:
            m_damaged = 0;
            write(QByteArray(1, PinPadFrame::kAck));
            m_incoming.push_back({false, item->payload});
            break;
        case Item::BadFrame:
            // The pad sends it again.
            ++m_damaged;
            write(QByteArray(1, PinPadFrame::kNak));
            break;
        }
    }
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
