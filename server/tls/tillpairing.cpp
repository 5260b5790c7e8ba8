#include "tls/tillpairing.h"

#include "core/programfolder.h"
#include "tls/folderowner.h"
#include "tls/pairingcode.h"
#include "tls/pairingsfile.h"
#include "tls/tillsfile.h"

TillPairingOffer offerPairing(const ProgramFolder& folder, const QString& name)
{
    TillPairingOffer offer;
    const auto refused = [&offer](const QString& problem, bool wrongName) {
        offer.problem = problem;
        offer.wrongName = wrongName;
        return offer;
    };
    if (const std::optional<QString> problem = TillsFile::nameProblem(name))
        return refused(*problem, true);
    const TillsFile::Lock lock(folder.tillsPath(), TillsFile::Lock::Wait::Yes);
    if (!lock.held())
        return refused(QStringLiteral("cannot lock %1 for the change").arg(folder.path()), false);
    QString reason;
    const std::optional<std::vector<Till>> tills = TillsFile::read(folder.tillsPath(), &reason);
    if (!tills)
        return refused(QStringLiteral("cannot read %1: %2").arg(folder.tillsPath(), reason), false);
    if (const Till* same = TillsFile::find(*tills, name))
        return refused(QStringLiteral("a till named '%1' is registered already; remove it first "
                                      "to pair it again")
                           .arg(same->name),
                       true);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    std::optional<std::vector<PendingPairing>> waiting =
        PairingsFile::read(folder.pairingsPath(), now, &reason);
    if (!waiting)
        return refused(QStringLiteral("cannot read %1: %2").arg(folder.pairingsPath(), reason),
                       false);
    const QString code = PairingCode::make();
    if (code.isEmpty())
        return refused(QStringLiteral("no random numbers for a code"), false);
    std::erase_if(*waiting, [&](const PendingPairing& p) {
        return p.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    const QDateTime expires = now.addSecs(PairingCode::kValidSeconds);
    waiting->push_back(PendingPairing{name, PairingCode::hash(code), expires});
    if (!PairingsFile::write(folder.pairingsPath(), *waiting, &reason))
        return refused(QStringLiteral("cannot write %1: %2").arg(folder.pairingsPath(), reason),
                       false);
    // The service, which may run as the folder's owner, reads and rewrites the file.
    giveToFolderOwner(folder.path(), {folder.pairingsPath()});
    offer.code = code;
    offer.expires = expires;
    return offer;
}
