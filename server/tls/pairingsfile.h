#pragma once

#include <optional>
#include <vector>

#include <QByteArray>
#include <QDateTime>
#include <QString>

// A till waiting to be paired: the name it will get, the hash of its code and when the code
// stops working.
struct PendingPairing
{
    QString name;
    QByteArray codeHash;
    QDateTime expires;
};

// The pairings file beside the tills file: one waiting till a line, its fields apart by tabs.
// Written whole with mode 0600 and renamed into place, under the tills file's lock.
namespace PairingsFile {

// The waiting tills in the file at `path` whose codes still work at `now`; none when there is
// no file. Nothing, with the reason, when it cannot be read or a line is not a pairing's.
std::optional<std::vector<PendingPairing>> read(const QString& path, const QDateTime& now,
                                                QString* reason);
// Replaces the file at `path` with `pairings`; false, with the reason, when it cannot.
bool write(const QString& path, const std::vector<PendingPairing>& pairings, QString* reason);

} // namespace PairingsFile
