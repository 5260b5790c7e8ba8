#include "tls/tillregistry.h"

#include <sys/stat.h>

#include <set>

#include <QFile>

#include "log/activitylog.h"
#include "tls/tillkey.h"

TillRegistry::TillRegistry(QString path, ActivityLog& log, qint64 writeBackMs, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_log(log), m_writeBackMs(writeBackMs)
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
    const TillsFile::Lock lock(m_path, m_closing);
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
