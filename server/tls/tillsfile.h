#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

// One registered till as the tills file holds it: never its key, only the key's hash.
struct Till
{
    QString name;
    QByteArray keyHash;
    QDateTime added;
    // When, and from which address, a request of it was last served; invalid before the first.
    QDateTime lastUsed;
    QString lastAddress;
};

// The tills file: one till a line, its fields apart by tabs (a name holds no control
// character). Written whole beside itself with mode 0600 and renamed into place.
namespace TillsFile {

// The most characters a till's name may have.
constexpr int kLongestName = 64;

// The tills in the file at `path`; none when there is no file. Nothing, with the reason, when
// it cannot be read or a line is not a till's.
std::optional<std::vector<Till>> read(const QString& path, QString* reason);
// Replaces the file at `path` with `tills`; false, with the reason, when it cannot.
bool write(const QString& path, const std::vector<Till>& tills, QString* reason);

// The right to change the tills file at `path`, held while it is read, changed and written,
// so that a command and a running server never write over each other's change. Locks the
// file's folder, which every user of the file can open.
class Lock
{
public:
    enum class Wait {
        No,      // takes the lock only when it is free
        Briefly, // waits up to kBriefWaitMs: long enough for a command's change
        Yes,
    };
    static constexpr int kBriefWaitMs = 250;

    Lock(const QString& path, Wait wait);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    bool held() const { return m_held; }

private:
    int m_fd = -1;
    bool m_held = false;
};

// Why `name` cannot name a till (empty, too long, a leading '-', a control character);
// nothing when it can.
std::optional<QString> nameProblem(const QString& name);
// The till whose name is `name`, in any letter case; nullptr when none is.
const Till* find(const std::vector<Till>& tills, const QString& name);

} // namespace TillsFile
