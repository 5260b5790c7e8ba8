// libFuzzer target for what the PIN pad sends: any bytes on the serial line, read by the
// packet reader, and every packet read as an answer to a PIN request.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <QByteArray>
#include <QList>

#include "pinpad/pinpadanswer.h"
#include "pinpad/pinpadframe.h"

namespace {

using Item = PinPadFrameReader::Item;

std::vector<Item> readAll(const QList<QByteArray>& pieces)
{
    PinPadFrameReader reader;
    std::vector<Item> items;
    for (const QByteArray& piece : pieces) {
        reader.feed(piece);
        while (const std::optional<Item> item = reader.next())
            items.push_back(*item);
    }
    return items;
}

bool isUpperHex(const QString& text)
{
    for (const QChar ch : text)
        if (!((ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) ||
              (ch >= QLatin1Char('A') && ch <= QLatin1Char('F'))))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte says where the line splits the rest into two reads.
    const QByteArray bytes(reinterpret_cast<const char*>(data) + 1, qsizetype(size - 1));
    const qsizetype split = bytes.isEmpty() ? 0 : data[0] % (bytes.size() + 1);
    const std::vector<Item> whole = readAll({bytes});
    const std::vector<Item> pieces = readAll({bytes.left(split), bytes.mid(split)});

    // However the bytes arrive, the reader makes the same items of them.
    if (whole.size() != pieces.size())
        std::abort();
    for (size_t i = 0; i < whole.size(); ++i) {
        const Item& item = whole[i];
        if (item.kind != pieces[i].kind || item.payload != pieces[i].payload)
            std::abort();
        if (item.payload.size() > PinPadFrameReader::kMaxPayload)
            std::abort();
        if (item.kind != Item::Frame)
            continue;
        // A good packet, written again, reads as the same packet.
        const std::vector<Item> again = readAll({PinPadFrame::encode(item.payload)});
        if (again.size() != 1 || again[0].kind != Item::Frame || again[0].payload != item.payload)
            std::abort();
        // An answer that is taken holds exactly its parts: the status "00000", a KSN of 10 to
        // 20 hex digits and a 16-digit PIN block.
        if (const std::optional<PinPadAnswer> answer = PinPadAnswer::read(item.payload)) {
            if (answer->pinBlock.size() != 16 || answer->reportedKsn.size() < 10 ||
                answer->reportedKsn.size() > 20 || !isUpperHex(answer->pinBlock) ||
                !isUpperHex(answer->reportedKsn))
                std::abort();
            const QString rebuilt =
                QStringLiteral("73.00000") + answer->reportedKsn + answer->pinBlock;
            if (rebuilt != QString::fromLatin1(item.payload).toUpper())
                std::abort();
        }
    }
    return 0;
}
