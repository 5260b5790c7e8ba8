#include "recordedsignature.h"

#include <QFile>
#include <QTextStream>

RecordedSignature recordedSignature()
{
    RecordedSignature signature;
    QFile file(QStringLiteral(":/demo/signature.txt"));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return signature;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() != 3)
            continue;
        signature.samples << PenSample{fields[0].toShort(), fields[1].toShort(),
                                       fields[2].toShort()};
    }
    return signature;
}
