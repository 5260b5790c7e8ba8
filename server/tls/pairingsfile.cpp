#include "tls/pairingsfile.h"

#include "tls/privatefile.h"
#include "tls/tillkey.h"
#include "tls/tillsfile.h"

namespace {

const QByteArray kHeading =
    "# Tills waiting to be paired: name, SHA-256 of the code, code valid until (tab-separated)\n";
constexpr int kFields = 3;

} // namespace

namespace PairingsFile {

std::optional<std::vector<PendingPairing>> read(const QString& path, const QDateTime& now,
                                                QString* reason)
{
    const std::optional<std::vector<TabSeparatedLine>> lines = readTabSeparatedLines(path, reason);
    if (!lines)
        return std::nullopt;
    std::vector<PendingPairing> pairings;
    for (const auto& [number, fields] : *lines) {
        PendingPairing pairing;
        if (fields.size() == kFields)
            pairing = {QString::fromUtf8(fields[0]), fields[1],
                       QDateTime::fromString(QString::fromLatin1(fields[2]), Qt::ISODate)};
        if (fields.size() != kFields || TillsFile::nameProblem(pairing.name) ||
            !isTillKeyHash(pairing.codeHash) || !pairing.expires.isValid()) {
            *reason = QStringLiteral("line %1 is not a pairing's").arg(number);
            return std::nullopt;
        }
        if (pairing.expires > now)
            pairings.push_back(std::move(pairing));
    }
    return pairings;
}

bool write(const QString& path, const std::vector<PendingPairing>& pairings, QString* reason)
{
    QByteArray bytes = kHeading;
    for (const PendingPairing& pairing : pairings)
        bytes += pairing.name.toUtf8() + '\t' + pairing.codeHash + '\t' +
                 pairing.expires.toUTC().toString(Qt::ISODate).toLatin1() + '\n';
    return writePrivateFile(path, bytes, reason);
}

} // namespace PairingsFile
