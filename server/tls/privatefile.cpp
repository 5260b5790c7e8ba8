#include "tls/privatefile.h"

#include <QFile>

#include "tls/filebatch.h"

bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    FileBatch batch;
    return batch.add(path, bytes, 0600, reason) && batch.commit(reason);
}

std::optional<std::vector<TabSeparatedLine>> readTabSeparatedLines(const QString& path,
                                                                   QString* reason)
{
    QFile file(path);
    if (!file.exists())
        return std::vector<TabSeparatedLine>{};
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return std::nullopt;
    }
    std::vector<TabSeparatedLine> lines;
    int number = 0;
    for (const QByteArray& line : file.readAll().split('\n')) {
        ++number;
        if (!line.isEmpty() && !line.startsWith('#'))
            lines.push_back({number, line.split('\t')});
    }
    return lines;
}
