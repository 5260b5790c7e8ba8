#include "settings/profiletext.h"

#include <QLatin1StringView>

namespace {

struct ParsedLine
{
    enum Kind { Other, Section, Key };
    Kind kind = Other;
    QByteArray name;
    // Where the value starts: just after the "=" of a key line.
    qsizetype valueStart = 0;
};

ParsedLine parse(const QByteArray& line)
{
    ParsedLine parsed;
    const QByteArray text = line.trimmed();
    if (text.startsWith('[')) {
        const qsizetype close = text.indexOf(']');
        parsed.kind = ParsedLine::Section;
        parsed.name = text.mid(1, close < 0 ? -1 : close - 1).trimmed();
    } else if (!text.isEmpty() && !text.startsWith(';')) {
        const qsizetype equals = line.indexOf('=');
        if (equals >= 0) {
            parsed.kind = ParsedLine::Key;
            parsed.name = line.left(equals).trimmed();
            // Blanks after the "=" stay with the line when its value is replaced.
            qsizetype start = equals + 1;
            while (start < line.size() && (line.at(start) == ' ' || line.at(start) == '\t'))
                ++start;
            parsed.valueStart = start;
        }
    }
    return parsed;
}

bool sameName(const QByteArray& a, const QByteArray& b)
{
    return QLatin1StringView(a).compare(QLatin1StringView(b), Qt::CaseInsensitive) == 0;
}

} // namespace

ProfileText::ProfileText(const QByteArray& content)
{
    if (content.isEmpty())
        return;
    const qsizetype firstEnd = content.indexOf('\n');
    m_crlf = firstEnd < 0 || (firstEnd > 0 && content.at(firstEnd - 1) == '\r');
    m_lines = content.split('\n');
    m_endsWithLineEnd = content.endsWith('\n');
    if (m_endsWithLineEnd)
        m_lines.removeLast();
}

std::optional<QByteArray> ProfileText::value(const QByteArray& section, const QByteArray& key) const
{
    bool inSection = false;
    for (const QByteArray& line : m_lines) {
        const ParsedLine parsed = parse(line);
        if (parsed.kind == ParsedLine::Section)
            inSection = sameName(parsed.name, section);
        else if (inSection && parsed.kind == ParsedLine::Key && sameName(parsed.name, key))
            return line.mid(parsed.valueStart).trimmed();
    }
    return std::nullopt;
}

void ProfileText::setValue(const QByteArray& section, const QByteArray& key,
                           const QByteArray& value)
{
    bool inSection = false;
    bool inFirstSection = false;
    qsizetype insertAt = -1; // after the last key of the first section of that name
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        const ParsedLine parsed = parse(m_lines.at(i));
        if (parsed.kind == ParsedLine::Section) {
            inSection = sameName(parsed.name, section);
            inFirstSection = inSection && insertAt < 0;
            if (inFirstSection)
                insertAt = i + 1;
        } else if (inSection && parsed.kind == ParsedLine::Key) {
            if (sameName(parsed.name, key)) {
                QByteArray& line = m_lines[i];
                const bool hadCr = line.endsWith('\r');
                line = line.left(parsed.valueStart) + value + (hadCr ? "\r" : "");
                return;
            }
            if (inFirstSection)
                insertAt = i + 1;
        }
    }
    if (insertAt < 0) {
        insertLine(m_lines.size(), '[' + section + ']');
        insertAt = m_lines.size();
    }
    insertLine(insertAt, key + '=' + value);
}

QByteArray ProfileText::content() const
{
    QByteArray text = m_lines.join('\n');
    if (m_endsWithLineEnd)
        text += '\n';
    return text;
}

void ProfileText::insertLine(qsizetype at, const QByteArray& text)
{
    if (at == m_lines.size()) {
        // The line before a line added at the end needs a line end if it had none.
        if (!m_lines.isEmpty() && !m_endsWithLineEnd && m_crlf && !m_lines.last().endsWith('\r'))
            m_lines.last().append('\r');
        m_endsWithLineEnd = true;
    }
    m_lines.insert(at, m_crlf ? text + '\r' : text);
}
