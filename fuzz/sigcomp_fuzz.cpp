// libFuzzer target for the pad's signature text (its variable "SIGCOMP"): any text the pad may
// hand over.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QString>

#include "pad/sigcomp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<PenStrokes> strokes = Sigcomp::decode(text);
    if (!strokes)
        return 0;
    // Only a text that the encoding writes is taken: every stroke has points, every point lies
    // in the signing area, and writing the strokes gives the text back.
    if (strokes->empty())
        std::abort();
    for (const PenStroke& stroke : *strokes) {
        if (stroke.empty())
            std::abort();
        for (const PenPoint& point : stroke)
            if (!SigningArea::contains(point))
                std::abort();
    }
    if (Sigcomp::encode(*strokes) != text)
        std::abort();
    return 0;
}
