#include "pad/padcontrolprotocol.h"

#include <QStringList>

namespace PadControlProtocol {

QByteArray encodeRequest(const QStringList& words)
{
    QByteArray line;
    for (const QString& word : words) {
        if (!line.isEmpty())
            line.append(' ');
        line.append(word.toUtf8().toPercentEncoding());
    }
    line.append('\n');
    return line;
}

QStringList decodeRequest(const QByteArray& line)
{
    QByteArray text = line;
    while (text.endsWith('\n') || text.endsWith('\r'))
        text.chop(1);
    QStringList words;
    for (const QByteArray& word : text.split(' '))
        words.append(QString::fromUtf8(QByteArray::fromPercentEncoding(word)));
    return words;
}

QString escapeValue(const QString& value)
{
    QString shown;
    shown.reserve(value.size());
    for (const QChar c : value) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            shown += QStringLiteral("\\\\");
        else if (u == u'\r')
            shown += QStringLiteral("\\r");
        else if (u == u'\n')
            shown += QStringLiteral("\\n");
        else if (u == u'\t')
            shown += QStringLiteral("\\t");
        else if (u < 32 || u == 127)
            shown += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

bool isClosingLine(const QString& line)
{
    return line == QStringLiteral("ok") || line == QStringLiteral("timeout") ||
           line.startsWith(QStringLiteral("error "));
}

} // namespace PadControlProtocol
