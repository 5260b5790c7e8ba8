#include "tls/tillregistry.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include <QFile>
#include <QFileInfo>

#include "core/clock.h"
#include "core/programfolder.h"
#include "log/activitylog.h"
#include "tls/pairingcode.h"
#include "tls/pairingsfile.h"
#include "tls/tillkey.h"

TillRegistry::TillRegistry(QString path, ActivityLog& log, qint64 writeBackMs, const Clock* clock,
                           QObject* parent)
    : QObject(parent), m_path(std::move(path)),
      m_pairingsPath(ProgramFolder(QFileInfo(m_path).path()).pairingsPath()), m_log(log),
      m_clock(clock), m_writeBackMs(writeBackMs)
{
    reload();
    m_sinceWrite.start();
    m_look.setInterval(kLookEveryMs);
    // Through a lambda: for a member-function slot, Qt's debug headers check the receiver's
    // type with dynamic_cast, which the sanitizers verify through a pipe, so the check fails
    // spuriously while the process is out of descriptors.
    connect(&m_look, &QTimer::timeout, this, [this] { look(); });
    m_look.start();
}

TillRegistry::~TillRegistry()
{
    m_closing = true;
    writeBack();
}

std::optional<QString> TillRegistry::tillOf(const QString& key)
{
    const auto found = m_byHash.find(tillKeyHash(key));
    if (found == m_byHash.end())
        return std::nullopt;
    return found->second;
}

void TillRegistry::used(const QString& name, const QString& address)
{
    m_unwritten[name] = LastUse{QDateTime::currentDateTimeUtc(), address};
}

QDateTime TillRegistry::now() const
{
    return m_clock ? m_clock->now() : QDateTime::currentDateTimeUtc();
}

TillKeys::Pairing TillRegistry::pair(const QString& code, const QString& address)
{
    const QByteArray codeHash = PairingCode::hash(code);
    QString reason;
    const std::optional<std::vector<PendingPairing>> waiting =
        PairingsFile::read(m_pairingsPath, now(), &reason);
    if (!waiting) {
        m_log.log(QStringLiteral("Tills: cannot read %1: %2").arg(m_pairingsPath, reason));
        return {Pairing::Result::TryAgain, {}, {}};
    }
    // A wrong code, the usual case of a guess, costs no lock and no write.
    if (std::none_of(waiting->begin(), waiting->end(),
                     [&](const PendingPairing& p) { return p.codeHash == codeHash; }))
        return {};
    const TillsFile::Lock lock(m_path, TillsFile::Lock::Wait::Briefly);
    if (!lock.held())
        return {Pairing::Result::TryAgain, {}, {}};
    return pairLocked(codeHash, address);
}

TillKeys::Pairing TillRegistry::pairLocked(const QByteArray& codeHash, const QString& address)
{
    const auto tryAgain = [this](const QString& what) {
        m_log.log(QStringLiteral("Tills: cannot pair a till: ") + what);
        return Pairing{Pairing::Result::TryAgain, {}, {}};
    };
    QString reason;
    // Read again under the lock: a command may have changed either file since.
    std::optional<std::vector<PendingPairing>> waiting =
        PairingsFile::read(m_pairingsPath, now(), &reason);
    std::optional<std::vector<Till>> tills;
    if (waiting)
        tills = TillsFile::read(m_path, &reason);
    if (!tills)
        return tryAgain(reason);
    const auto found = std::find_if(waiting->begin(), waiting->end(), [&](const PendingPairing& p) {
        return p.codeHash == codeHash;
    });
    if (found == waiting->end())
        return {};
    const PendingPairing pairing = *found;
    const std::vector<PendingPairing> before = *waiting;
    waiting->erase(found);
    if (TillsFile::find(*tills, pairing.name)) {
        // Registered by hand meanwhile: that till's key stays, and the code is spent.
        m_log.log(QStringLiteral("Tills: a till named %1 is registered already; its pairing code "
                                 "is void")
                      .arg(pairing.name));
        PairingsFile::write(m_pairingsPath, *waiting, &reason);
        return {};
    }
    const QString key = makeTillKey();
    if (key.isEmpty())
        return tryAgain(QStringLiteral("no random numbers for a key"));
    // The code is spent before the till exists: a stop between the two leaves a code to make
    // again, never a till whose key nobody was given.
    if (!PairingsFile::write(m_pairingsPath, *waiting, &reason))
        return tryAgain(reason);
    tills->push_back(Till{pairing.name, tillKeyHash(key), now().toUTC(), {}, {}});
    if (!TillsFile::write(m_path, *tills, &reason)) {
        QString ignored;
        PairingsFile::write(m_pairingsPath, before, &ignored);
        return tryAgain(reason);
    }
    reload();
    m_log.log(QStringLiteral("Tills: Paired name=[") + pairing.name + QStringLiteral("] ip=[") +
              address + QLatin1Char(']'));
    return {Pairing::Result::Paired, pairing.name, key};
}

TillRegistry::Identity TillRegistry::identityNow() const
{
    struct stat status
    {
    };
    if (::stat(QFile::encodeName(m_path).constData(), &status) != 0)
        return {};
    return {true, quint64(status.st_dev), quint64(status.st_ino),
            qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec,
            qint64(status.st_size)};
}

void TillRegistry::look()
{
    if (identityNow() != m_identity)
        reload();
    if (!m_unwritten.empty() && m_sinceWrite.hasExpired(m_writeBackMs))
        writeBack();
}

bool TillRegistry::reload()
{
    const Identity identity = identityNow();
    QString reason;
    std::optional<std::vector<Till>> tills = TillsFile::read(m_path, &reason);
    if (!tills) {
        if (!m_unreadableLogged)
            m_log.log(QStringLiteral("Tills: cannot read %1: %2; the tills stay as they were")
                          .arg(m_path, reason));
        m_unreadableLogged = true;
        m_identity = identity;
        return false;
    }
    m_unreadableLogged = false;
    m_identity = identity;
    std::map<QByteArray, QString> byHash;
    for (const Till& till : *tills)
        byHash.emplace(till.keyHash, till.name);
    // A till is gone when its key no longer names it, whatever else changed.
    std::set<QString> gone;
    for (const auto& [hash, name] : m_byHash) {
        const auto now = byHash.find(hash);
        if (now == byHash.end() || now->second != name)
            gone.insert(name);
    }
    m_tills = std::move(*tills);
    m_byHash = std::move(byHash);
    for (const QString& name : gone) {
        m_unwritten.erase(name);
        Q_EMIT removed(name);
    }
    return true;
}

void TillRegistry::writeBack()
{
    if (m_unwritten.empty())
        return;
    // The event loop never waits for a command that changes the file: the next look tries
    // again. Only the last write, as the registry goes, waits its turn.
    const TillsFile::Lock lock(m_path,
                               m_closing ? TillsFile::Lock::Wait::Yes : TillsFile::Lock::Wait::No);
    if (!lock.held())
        return;
    m_sinceWrite.restart();
    // An operator's change since the last look is taken in first, so that it is kept.
    if (identityNow() != m_identity && !reload())
        return;
    bool changed = false;
    for (Till& till : m_tills) {
        const auto use = m_unwritten.find(till.name);
        if (use == m_unwritten.end())
            continue;
        till.lastUsed = use->second.when;
        till.lastAddress = use->second.address;
        changed = true;
    }
    m_unwritten.clear();
    if (!changed)
        return;
    QString reason;
    if (!TillsFile::write(m_path, m_tills, &reason)) {
        m_log.log(QStringLiteral("Tills: cannot write %1: %2").arg(m_path, reason));
        return;
    }
    m_identity = identityNow();
}
