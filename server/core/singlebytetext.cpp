#include "core/singlebytetext.h"

QByteArray toSingleByte(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        bytes.append(ch.unicode() <= 0xFF && !ch.isSurrogate() ? char(ch.unicode()) : '?');
    }
    return bytes;
}
