#pragma once

#include <optional>

#include <QByteArray>

// The PIN pad's packet protocol on the serial line: a packet is STX, the payload, ETX and a
// check byte (the XOR of every byte after STX up to and including ETX); the receiver answers
// each packet with ACK or NAK, and EOT ends an exchange.
namespace PinPadFrame {

constexpr char kStx = 0x02;
constexpr char kEtx = 0x03;
constexpr char kEot = 0x04;
constexpr char kAck = 0x06;
constexpr char kNak = 0x15;
// Field separators inside payloads.
constexpr char kSub = 0x1A;
constexpr char kFs = 0x1C;

// The check byte of a payload: XOR of its bytes and ETX.
char lrc(const QByteArray& payload);
// STX + payload + ETX + check byte.
QByteArray encode(const QByteArray& payload);

} // namespace PinPadFrame

// Turns the bytes read from the line, however they were split or joined, into what the other
// side sent. Bytes outside a packet other than ACK, NAK and EOT are line noise and skipped; an
// STX inside a packet starts a new one.
class PinPadFrameReader
{
public:
    struct Item
    {
        enum Kind { Ack, Nak, Eot, Frame, BadFrame };
        Kind kind;
        // The payload of a Frame or BadFrame.
        QByteArray payload;
    };

    // A packet longer than this is dropped as noise.
    static constexpr int kMaxPayload = 256;

    void feed(const QByteArray& bytes);
    // The next item read, in order; none when everything fed so far has been taken.
    std::optional<Item> next();

private:
    enum class State { Between, InPayload, AwaitCheck };

    State m_state = State::Between;
    QByteArray m_payload;
    QByteArray m_pending;
    qsizetype m_pendingAt = 0;
};
