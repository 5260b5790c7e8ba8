#include "pinpad/pinpadframe.h"

namespace PinPadFrame {

char lrc(const QByteArray& payload)
{
    char check = 0;
    for (const char byte : payload)
        check ^= byte;
    return char(check ^ kEtx);
}

QByteArray encode(const QByteArray& payload)
{
    return kStx + payload + kEtx + lrc(payload);
}

} // namespace PinPadFrame

void PinPadFrameReader::feed(const QByteArray& bytes)
{
    m_pending += bytes;
}

std::optional<PinPadFrameReader::Item> PinPadFrameReader::next()
{
    using namespace PinPadFrame;
    while (m_pendingAt < m_pending.size()) {
        const char byte = m_pending.at(m_pendingAt++);
        switch (m_state) {
        case State::Between:
            if (byte == kStx) {
                m_payload.clear();
                m_state = State::InPayload;
            } else if (byte == kAck) {
                return Item{Item::Ack, {}};
            } else if (byte == kNak) {
                return Item{Item::Nak, {}};
            } else if (byte == kEot) {
                return Item{Item::Eot, {}};
            }
            break;
        case State::InPayload:
            if (byte == kEtx) {
                m_state = State::AwaitCheck;
            } else if (byte == kStx) {
                m_payload.clear();
            } else if (m_payload.size() >= kMaxPayload) {
                m_state = State::Between;
            } else {
                m_payload.append(byte);
            }
            break;
        case State::AwaitCheck:
            m_state = State::Between;
            return Item{byte == lrc(m_payload) ? Item::Frame : Item::BadFrame, m_payload};
        }
    }
    m_pending.clear();
    m_pendingAt = 0;
    return std::nullopt;
}
