#include "request/originlist.h"

#include <QRegularExpression>

OriginList::OriginList(const QString& setting)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    for (const QString& entry : setting.split(separators, Qt::SkipEmptyParts))
        m_origins.insert(normalised(entry));
}

bool OriginList::allows(const QString& origin) const
{
    if (origin.isEmpty())
        return true;
    return m_origins.contains(normalised(origin));
}

QStringList OriginList::origins() const
{
    QStringList listed = m_origins.values();
    listed.sort();
    return listed;
}

// Browsers send scheme and host in lower case and never a path; a listed origin copied from
// an address bar may carry a trailing "/".
QString OriginList::normalised(const QString& origin)
{
    QString text = origin.toLower();
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    return text;
}

std::optional<QString> handshakeOrigin(const QByteArray& head)
{
    const qsizetype end = head.indexOf("\r\n\r\n");
    if (end < 0)
        return std::nullopt;
    const QList<QByteArray> lines = head.left(end).split('\n');
    // The first line is the request line, the rest are headers.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "origin")
            return QString::fromLatin1(line.mid(colon + 1).trimmed());
    }
    return QString();
}
