#include "tls/privatefile.h"

#include "tls/filebatch.h"

bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* reason)
{
    FileBatch batch;
    return batch.add(path, bytes, 0600, reason) && batch.commit(reason);
}
