#include "pinpad/pinpadframe.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

using Item = PinPadFrameReader::Item;

// What the reader made of the bytes, one word per item: "ACK", "NAK", "EOT", "frame:PAYLOAD"
// or "bad:PAYLOAD".
QStringList readAll(PinPadFrameReader& reader)
{
    QStringList items;
    while (const std::optional<Item> item = reader.next()) {
        switch (item->kind) {
        case Item::Ack:
            items << QStringLiteral("ACK");
            break;
        case Item::Nak:
            items << QStringLiteral("NAK");
            break;
        case Item::Eot:
            items << QStringLiteral("EOT");
            break;
        case Item::Frame:
            items << QStringLiteral("frame:") + QString::fromLatin1(item->payload);
            break;
        case Item::BadFrame:
            items << QStringLiteral("bad:") + QString::fromLatin1(item->payload);
            break;
        }
    }
    return items;
}

QStringList readPieces(const QList<QByteArray>& pieces)
{
    PinPadFrameReader reader;
    QStringList items;
    for (const QByteArray& piece : pieces) {
        reader.feed(piece);
        items += readAll(reader);
    }
    return items;
}

} // namespace

TEST(PinPadFrame, CheckByteIsTheXorOfPayloadAndEtx)
{
    // '7' ^ '2' ^ ETX = 0x37 ^ 0x32 ^ 0x03 = 0x06: a check byte that looks like ACK.
    EXPECT_EQ(PinPadFrame::encode("72"), QByteArray::fromHex("0237320306"));
    EXPECT_EQ(PinPadFrame::lrc(QByteArray()), PinPadFrame::kEtx);
    const QByteArray payload = "73.00000"
                               "9876543210E00001"
                               "1B9C1845EB993A7A";
    char check = 0;
    for (const char byte : payload + PinPadFrame::kEtx)
        check ^= byte;
    EXPECT_EQ(PinPadFrame::encode(payload),
              PinPadFrame::kStx + payload + PinPadFrame::kEtx + check);
}

TEST(PinPadFrame, ReaderTakesSplitJoinedAndNoisyInput)
{
    const QByteArray answer = PinPadFrame::encode("73.000009876543210E000011B9C1845EB993A7A");
    const QByteArray cancel = PinPadFrame::encode("72");
    QByteArray damaged = PinPadFrame::encode("Z2\x1ATOTAL 1.00");
    damaged.back() = char(damaged.back() ^ 0x40);
    const QStringList expected{QStringLiteral("ACK"),
                               QStringLiteral("frame:73.000009876543210E000011B9C1845EB993A7A"),
                               QStringLiteral("frame:72"),
                               QStringLiteral("EOT"),
                               QStringLiteral("bad:Z2\x1ATOTAL 1.00"),
                               QStringLiteral("NAK")};
    const QByteArray all = "\x06" + answer + cancel + "\x04" + damaged + "\x15";

    // Joined in one read.
    EXPECT_EQ(readPieces({all}), expected);
    // One byte per read.
    QList<QByteArray> bytes;
    for (const char byte : all)
        bytes << QByteArray(1, byte);
    EXPECT_EQ(readPieces(bytes), expected);
    // Split inside the payload and between ETX and the check byte.
    const qsizetype etx = all.indexOf('\x03', 1);
    EXPECT_EQ(readPieces({all.left(5), all.mid(5, etx - 4), all.mid(etx + 1)}), expected);

    // Noise between packets is skipped, an STX inside a packet starts it again, and a packet
    // without an end is dropped once it grows too long.
    const QByteArray noise = "xyz\x03\x99";
    const QByteArray restarted = "\x02"
                                 "Z60.41" +
                                 PinPadFrame::encode("Z2\x1AWELCOME");
    const QByteArray endless = "\x02" + QByteArray(PinPadFrameReader::kMaxPayload + 10, 'A');
    EXPECT_EQ(readPieces({noise + answer + noise + restarted + endless + noise + cancel}),
              (QStringList{expected.at(1), QStringLiteral("frame:Z2\x1AWELCOME"),
                           QStringLiteral("frame:72")}));
}
