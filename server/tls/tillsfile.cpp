#include "tls/tillsfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "tls/privatefile.h"
#include "tls/tillkey.h"

namespace {

const QByteArray kHeading =
    "# Tills of this box: name, SHA-256 of its key, added, last used, from (tab-separated)\n";
constexpr int kFields = 5;

QString timeText(const QDateTime& time)
{
    return time.isValid() ? time.toUTC().toString(Qt::ISODate) : QString();
}

QDateTime timeOf(const QString& text)
{
    return text.isEmpty() ? QDateTime() : QDateTime::fromString(text, Qt::ISODate);
}

} // namespace

namespace TillsFile {

std::optional<std::vector<Till>> read(const QString& path, QString* reason)
{
    const std::optional<std::vector<TabSeparatedLine>> lines = readTabSeparatedLines(path, reason);
    if (!lines)
        return std::nullopt;
    std::vector<Till> tills;
    for (const auto& [number, fields] : *lines) {
        Till till;
        if (fields.size() == kFields) {
            till =
                Till{QString::fromUtf8(fields[0]), fields[1], timeOf(QString::fromUtf8(fields[2])),
                     timeOf(QString::fromUtf8(fields[3])), QString::fromUtf8(fields[4])};
        }
        if (fields.size() != kFields || nameProblem(till.name) || !isTillKeyHash(till.keyHash) ||
            !till.added.isValid() || find(tills, till.name)) {
            *reason = QStringLiteral("line %1 is not a till's").arg(number);
            return std::nullopt;
        }
        tills.push_back(std::move(till));
    }
    return tills;
}

bool write(const QString& path, const std::vector<Till>& tills, QString* reason)
{
    QByteArray bytes = kHeading;
    for (const Till& till : tills) {
        const QStringList fields{till.name, QString::fromLatin1(till.keyHash), timeText(till.added),
                                 timeText(till.lastUsed), till.lastAddress};
        bytes += fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    }
    return writePrivateFile(path, bytes, reason);
}

Lock::Lock(const QString& path, Wait wait)
    : m_fd(::open(QFile::encodeName(QFileInfo(path).path()).constData(),
                  O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    if (m_fd < 0)
        return;
    QElapsedTimer waited;
    waited.start();
    int done = -1;
    for (;;) {
        done = ::flock(m_fd, LOCK_EX | (wait == Wait::Yes ? 0 : LOCK_NB));
        if (done == 0)
            break;
        if (errno == EINTR)
            continue;
        // A command holds the file for a few milliseconds at most.
        if (wait != Wait::Briefly || errno != EWOULDBLOCK || waited.hasExpired(kBriefWaitMs))
            break;
        ::usleep(5000);
    }
    m_held = done == 0;
}

Lock::~Lock()
{
    // Closing the folder lets the lock go.
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QString> nameProblem(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("a till's name cannot be empty");
    if (name.size() > kLongestName)
        return QStringLiteral("a till's name has at most %1 characters, not %2")
            .arg(kLongestName)
            .arg(name.size());
    // A name taken from the next option on the command line (--add-till --home DIR) is refused.
    if (name.startsWith(QLatin1Char('-')))
        return QStringLiteral("a till's name cannot begin with '-'");
    if (!std::all_of(name.begin(), name.end(), [](QChar c) { return c.isPrint(); }))
        return QStringLiteral("a till's name cannot hold a line end, a tab or another control "
                              "character");
    return std::nullopt;
}

const Till* find(const std::vector<Till>& tills, const QString& name)
{
    const auto found = std::find_if(tills.begin(), tills.end(), [&](const Till& till) {
        return till.name.compare(name, Qt::CaseInsensitive) == 0;
    });
    return found == tills.end() ? nullptr : &*found;
}

} // namespace TillsFile
