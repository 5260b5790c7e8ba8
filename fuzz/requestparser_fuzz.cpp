// libFuzzer target for the request parser: any bytes a client may send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QString>

#include "request/requestparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = QStringLiteral("/srv/varnel/signatures");
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ParsedRequest request = parseRequest(text, folder);

    // Whatever the input, a signature file stays inside the signatures folder.
    const QString& sigFile = request.values.sigFile;
    if (!sigFile.isEmpty()) {
        const QString name = sigFile.mid(folder.size() + 1);
        if (!sigFile.startsWith(folder + QLatin1Char('/')) ||
            !name.endsWith(QLatin1String(".pcx")) || !isSafeSignatureName(name.chopped(4)))
            std::abort();
    }
    // A card number's piece never shows the number in full.
    const QString cardPiece = QStringLiteral("Socket: DataArrival Parse tag=[CREDITCARD] value=[");
    if (request.values.creditCard.size() > 4) {
        for (const QString& line : request.logLines)
            if (line.startsWith(cardPiece) && line.contains(request.values.creditCard))
                std::abort();
    }
    if (request.outcome == ParsedRequest::Outcome::Failed && request.failureCode != 5 &&
        request.failureCode != 6)
        std::abort();
    return 0;
}
