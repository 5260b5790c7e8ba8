#pragma once

#include <vector>

#include <QByteArray>
#include <QString>

// Files that are put in place together or not at all, so that a key never ends up beside a
// certificate it does not belong to. Each is written whole beside its target first, with its
// mode from the first byte on and never through a link; commit() then swaps them in.
// Whatever is left beside the targets is removed when the batch goes.
class FileBatch
{
public:
    FileBatch() = default;
    ~FileBatch();
    FileBatch(const FileBatch&) = delete;
    FileBatch& operator=(const FileBatch&) = delete;

    // Writes `bytes` beside `path`, with the permission bits `mode` (not cut by the umask).
    // False, with the reason, when it cannot.
    bool add(const QString& path, const QByteArray& bytes, unsigned mode, QString* reason);
    // Puts every file added in place of its target (a link there is replaced, not followed).
    // False, with the reason, when one cannot be: then every target is as it was.
    bool commit(QString* reason);
    // After a commit: puts the targets back as they were before it.
    void undo();

private:
    // How a commit put a file in place, which says how an undo takes it back.
    enum class Placed {
        No,
        Swapped,  // exchanged with the old target, which now waits beside it
        Made,     // there was no target
        Replaced, // renamed over the old target, which is gone
    };
    struct Entry
    {
        QByteArray target;
        QByteArray beside;
        Placed placed = Placed::No;
    };

    std::vector<Entry> m_entries;
};
