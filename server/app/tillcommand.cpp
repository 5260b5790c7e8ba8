#include "app/tillcommand.h"

#include <algorithm>
#include <cstdio>

#include <QCommandLineParser>
#include <QDateTime>
#include <QFileInfo>

#include "core/commandoutput.h"
#include "core/defaultprogramfolder.h"
#include "core/programfolder.h"
#include "tls/folderowner.h"
#include "tls/pairingsfile.h"
#include "tls/tillkey.h"
#include "tls/tillpairing.h"
#include "tls/tillsfile.h"

namespace {

using CommandOutput::fail;
using CommandOutput::print;
using CommandOutput::wrongUse;

const QString kAddTill = QStringLiteral("add-till");
const QString kPairTill = QStringLiteral("pair-till");
const QString kListTills = QStringLiteral("list-tills");
const QString kRemoveTill = QStringLiteral("remove-till");

// A name as a message quotes it, a control character as an escape.
QString shown(const QString& name)
{
    QString out;
    for (const QChar c : name)
        out += c.isPrint() ? QString(c)
                           : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    return out;
}

QString timeText(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODate);
}

// Writes `tills` to `path`, owned by the program folder's user (the service reads it).
bool writeTills(const QString& path, const std::vector<Till>& tills, QString* reason)
{
    if (!TillsFile::write(path, tills, reason))
        return false;
    giveToFolderOwner(QFileInfo(path).path(), {path});
    return true;
}

int addTill(const QString& path, const QString& name)
{
    if (const std::optional<QString> problem = TillsFile::nameProblem(name))
        return wrongUse(*problem + QStringLiteral(": '%1'").arg(shown(name)));
    QString reason;
    std::optional<std::vector<Till>> tills = TillsFile::read(path, &reason);
    if (!tills)
        return fail(QStringLiteral("cannot read %1: %2").arg(path, reason));
    if (const Till* same = TillsFile::find(*tills, name))
        return wrongUse(QStringLiteral("a till named '%1' is registered already; remove it "
                                       "first to give it a new key")
                            .arg(same->name));
    const QString key = makeTillKey();
    if (key.isEmpty())
        return fail(QStringLiteral("no random numbers for a key"));
    tills->push_back(Till{name, tillKeyHash(key), QDateTime::currentDateTimeUtc(), {}, {}});
    if (!writeTills(path, *tills, &reason))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, reason));
    print(stdout, QStringLiteral("Till '%1' added. Its key, shown only now (the till sends it "
                                 "as KEY=...; with every request):")
                      .arg(name));
    print(stdout, key);
    return 0;
}

// Prints a code for the till `name`; takes the tills file's lock itself.
int pairTill(const ProgramFolder& folder, const QString& name)
{
    const TillPairingOffer offer = offerPairing(folder, name);
    if (!offer.problem.isEmpty())
        return offer.wrongName ? wrongUse(offer.problem) : fail(offer.problem);
    print(stdout, QStringLiteral("Till '%1' may pair until %2 (ten minutes), once, by sending "
                                 "TRANS=PAIR;CODE=...; with this code:")
                      .arg(name, timeText(offer.expires)));
    print(stdout, offer.code);
    return 0;
}

int listTills(const ProgramFolder& folder)
{
    const QString path = folder.tillsPath();
    QString reason;
    const std::optional<std::vector<Till>> tills = TillsFile::read(path, &reason);
    if (!tills)
        return fail(QStringLiteral("cannot read %1: %2").arg(path, reason));
    const std::optional<std::vector<PendingPairing>> waiting =
        PairingsFile::read(folder.pairingsPath(), QDateTime::currentDateTimeUtc(), &reason);
    if (!waiting)
        return fail(QStringLiteral("cannot read %1: %2").arg(folder.pairingsPath(), reason));
    if (tills->empty() && waiting->empty())
        print(stdout, QStringLiteral("No till is registered."));
    for (const Till& till : *tills) {
        const QString use = till.lastUsed.isValid()
                                ? QStringLiteral("last used %1 from %2")
                                      .arg(timeText(till.lastUsed), till.lastAddress)
                                : QStringLiteral("never used");
        print(stdout, QStringLiteral("%1\tadded %2\t%3").arg(till.name, timeText(till.added), use));
    }
    for (const PendingPairing& pairing : *waiting)
        print(stdout, QStringLiteral("%1\twaiting to pair\tcode valid until %2")
                          .arg(pairing.name, timeText(pairing.expires)));
    return 0;
}

int removeTill(const ProgramFolder& folder, const QString& name)
{
    if (name.isEmpty())
        return wrongUse(QStringLiteral("--remove-till needs the till's name"));
    const QString path = folder.tillsPath();
    QString reason;
    std::optional<std::vector<Till>> tills = TillsFile::read(path, &reason);
    if (!tills)
        return fail(QStringLiteral("cannot read %1: %2").arg(path, reason));
    std::optional<std::vector<PendingPairing>> waiting =
        PairingsFile::read(folder.pairingsPath(), QDateTime::currentDateTimeUtc(), &reason);
    if (!waiting)
        return fail(QStringLiteral("cannot read %1: %2").arg(folder.pairingsPath(), reason));
    const auto pending =
        std::find_if(waiting->begin(), waiting->end(), [&](const PendingPairing& p) {
            return p.name.compare(name, Qt::CaseInsensitive) == 0;
        });
    const Till* till = TillsFile::find(*tills, name);
    if (!till && pending == waiting->end())
        return wrongUse(
            QStringLiteral("no till named '%1' is registered (see --list-tills)").arg(shown(name)));
    // A till waiting to pair loses its code too.
    if (pending != waiting->end()) {
        const QString cancelled = pending->name;
        waiting->erase(pending);
        if (!PairingsFile::write(folder.pairingsPath(), *waiting, &reason))
            return fail(QStringLiteral("cannot write %1: %2").arg(folder.pairingsPath(), reason));
        giveToFolderOwner(folder.path(), {folder.pairingsPath()});
        if (!till) {
            print(stdout, QStringLiteral("Till '%1' no longer waits to pair: its code is void.")
                              .arg(cancelled));
            return 0;
        }
    }
    const QString removed = till->name;
    tills->erase(tills->begin() + (till - tills->data()));
    if (!writeTills(path, *tills, &reason))
        return fail(QStringLiteral("cannot write %1: %2").arg(path, reason));
    print(stdout, QStringLiteral("Till '%1' removed; a running server refuses its key within "
                                 "two seconds and closes its connections.")
                      .arg(removed));
    return 0;
}

} // namespace

void addTillOptions(QCommandLineParser& parser)
{
    parser.addOption({kAddTill,
                      QStringLiteral("Register a till named <name> and print its key on the last "
                                     "line, then end. Only a hash of the key is kept."),
                      QStringLiteral("name")});
    parser.addOption({kPairTill,
                      QStringLiteral("Let a till named <name> pair itself: print a code of eight "
                                     "characters on the last line, which the till may send once "
                                     "within ten minutes to get its key, then end."),
                      QStringLiteral("name")});
    parser.addOption(
        {kListTills, QStringLiteral("List the registered tills: when each was "
                                    "added and last used, and from where, and the tills waiting "
                                    "to pair, then end.")});
    parser.addOption({kRemoveTill,
                      QStringLiteral("Revoke the till named <name>: its key is refused from then "
                                     "on, also by a running server, then end."),
                      QStringLiteral("name")});
}

bool refuseTillOptionWithoutName(const QString& lastArgument)
{
    for (const QString& option : {kAddTill, kPairTill, kRemoveTill}) {
        if (lastArgument == QStringLiteral("--") + option ||
            lastArgument == QLatin1Char('-') + option) {
            wrongUse(QStringLiteral("--%1 needs the till's name").arg(option));
            return true;
        }
    }
    return false;
}

std::optional<int> runTillCommand(const QCommandLineParser& parser, const QString& home,
                                  bool ownerOnlyHome)
{
    const int commands = int(parser.isSet(kAddTill)) + int(parser.isSet(kPairTill)) +
                         int(parser.isSet(kListTills)) + int(parser.isSet(kRemoveTill));
    if (commands == 0)
        return std::nullopt;
    if (commands > 1 || parser.values(kAddTill).size() > 1 || parser.values(kPairTill).size() > 1 ||
        parser.values(kRemoveTill).size() > 1)
        return wrongUse(QStringLiteral("--add-till, --pair-till, --list-tills and --remove-till go "
                                       "one at a time, for one till"));
    if (!parser.positionalArguments().isEmpty())
        return wrongUse(
            QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first()));
    QString reason;
    if (!makeProgramFolder(home, ownerOnlyHome, &reason))
        return fail(QStringLiteral("cannot create the program folder %1: %2").arg(home, reason));
    const ProgramFolder folder(home);
    if (parser.isSet(kPairTill))
        return pairTill(folder, parser.value(kPairTill));
    const QString path = folder.tillsPath();
    const TillsFile::Lock lock(path, TillsFile::Lock::Wait::Yes);
    if (!lock.held())
        return fail(QStringLiteral("cannot lock %1 for the change").arg(home));
    if (parser.isSet(kAddTill))
        return addTill(path, parser.value(kAddTill));
    if (parser.isSet(kRemoveTill))
        return removeTill(folder, parser.value(kRemoveTill));
    return listTills(folder);
}
