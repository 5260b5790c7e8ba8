#include "core/singlebytetext.h"

QByteArray toSingleByte(const QString& text)
{
    // Without surrogates, Qt's own conversion gives the same bytes, much faster than one byte
    // appended at a time: every log line passes through here.
    const QChar* chars = text.constData();
    bool hasSurrogate = false;
    for (qsizetype i = 0; i < text.size(); ++i)
        hasSurrogate |= (chars[i].unicode() & 0xF800) == 0xD800;
    if (!hasSurrogate)
        return text.toLatin1(); // a character above 255 becomes "?"

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
