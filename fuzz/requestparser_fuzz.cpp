// libFuzzer target for the request parser: any bytes a client may send.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QDir>
#include <QFileInfo>
#include <QString>

#include "pad/signaturefilename.h"
#include "request/requestparser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString folder = QStringLiteral("/srv/varnel/signatures");
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ParsedRequest request = parseRequest(text, folder);

    // Whatever the input, a signature file that the signature operations accept stays
    // directly inside the signatures folder.
    const QString& sigFile = request.values.sigFile;
    if (!sigFile.isEmpty()) {
        if (!sigFile.startsWith(folder + QLatin1Char('/')) ||
            !sigFile.endsWith(QLatin1String(".pcx")))
            std::abort();
        if (isSafeSignatureFile(sigFile, folder) &&
            QFileInfo(QDir::cleanPath(sigFile)).absolutePath() != folder)
            std::abort();
    }
    // A card number's piece shows nothing but "*" before its last four characters.
    const QString cardPiece = QStringLiteral("Socket: DataArrival Parse tag=[CREDITCARD] value=[");
    for (const QString& line : request.logLines) {
        if (!line.startsWith(cardPiece))
            continue;
        const QString shown = line.mid(cardPiece.size()).chopped(1);
        for (qsizetype i = 0; i + 4 < shown.size(); ++i)
            if (shown.at(i) != QLatin1Char('*'))
                std::abort();
    }
    if (request.outcome == ParsedRequest::Outcome::Failed && request.failureCode != 5 &&
        request.failureCode != 6)
        std::abort();
    return 0;
}
