#include "pad/outboxrecord.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>

namespace {

// A value on one line: line breaks and backslashes are escaped.
QByteArray escaped(const QString& value)
{
    QByteArray text = value.toUtf8();
    text.replace('\\', "\\\\").replace('\n', "\\n").replace('\r', "\\r");
    return text;
}

QString unescaped(const QByteArray& text)
{
    QByteArray value;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            value += text[i];
            continue;
        }
        const char next = text[++i];
        value += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return QString::fromUtf8(value);
}

} // namespace

std::optional<OutboxRecord> OutboxRecord::read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QHash<QByteArray, QString> values;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(line.left(equals), unescaped(line.mid(equals + 1)));
    }
    OutboxRecord record;
    record.remoteName = values.value("remote");
    record.takenAs = values.value("taken");
    bool numbers = true;
    const auto number = [&](const char* key) {
        bool ok = false;
        const qint64 value = values.value(key).toLongLong(&ok);
        numbers = numbers && ok;
        return value;
    };
    record.attempts = int(number("attempts"));
    record.firstTry = number("first");
    record.nextTry = number("next");
    record.givenUp = number("gaveup");
    record.lastFailure = values.value("failure");
    if (!numbers || record.remoteName.isEmpty())
        return std::nullopt;
    return record;
}

bool OutboxRecord::write(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("remote=" + escaped(remoteName) + "\ntaken=" + escaped(takenAs) + "\nattempts=" +
               QByteArray::number(attempts) + "\nfirst=" + QByteArray::number(firstTry) +
               "\nnext=" + QByteArray::number(nextTry) + "\ngaveup=" + QByteArray::number(givenUp) +
               "\nfailure=" + escaped(lastFailure) + '\n');
    // On the disk before it takes the record's name, and the name on the disk after: a power
    // cut leaves the old record or the new one, whole.
    if (!file.flush() || ::fsync(int(file.handle())) != 0 || !file.commit())
        return false;
    syncFolderOf(path);
    return true;
}

void syncFolderOf(const QString& path)
{
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0)
        return;
    ::fsync(folder);
    ::close(folder);
}
