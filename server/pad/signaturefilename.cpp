#include "pad/signaturefilename.h"

#include <algorithm>

#include <QDir>

#include "core/failure.h"

namespace {

const QString kExtension = QStringLiteral(".pcx");

// Besides what leaves the folder: anything the reply would lose or garble, since SIGPATH must
// name the file written. The reply keeps printable ASCII only and escapes nothing.
bool isRefusedCharacter(QChar c)
{
    static const QString kRefused = QStringLiteral("/\\:<>&\"");
    return c.unicode() < 32 || c.unicode() > 126 || kRefused.contains(c);
}

} // namespace

bool isSafeSignatureFile(const QString& sigFile, const QString& signaturesFolder)
{
    if (sigFile.isEmpty())
        return true;
    const QString prefix = signaturesFolder + QDir::separator();
    if (signaturesFolder.isEmpty() || !sigFile.startsWith(prefix) ||
        !sigFile.endsWith(kExtension) || sigFile.size() < prefix.size() + kExtension.size())
        return false;
    // Empty, "." and ".." names are harmless: the extension makes them ".pcx", "..pcx", "...pcx".
    const QString name = sigFile.mid(prefix.size()).chopped(kExtension.size());
    return std::none_of(name.cbegin(), name.cend(), isRefusedCharacter);
}

void requireSafeSignatureFile(const QString& sigFile, const QString& signaturesFolder)
{
    if (!isSafeSignatureFile(sigFile, signaturesFolder))
        throw Failure(FailureCode::InvalidArgument);
}
