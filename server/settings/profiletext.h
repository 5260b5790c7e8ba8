#pragma once

#include <optional>

#include <QByteArray>
#include <QList>

// The text of a profile (INI) file, kept line by line: a change rewrites or adds one line and
// keeps every other byte (sections, keys, comments, blank lines, order, line ends).
// Section and key names match without regard to letter case; names and values are trimmed.
class ProfileText
{
public:
    explicit ProfileText(const QByteArray& content = {});

    // The value of the key in the first section of that name holding it; nothing when the key
    // or the section is missing.
    std::optional<QByteArray> value(const QByteArray& section, const QByteArray& key) const;
    // Replaces the key's value, or adds the key at the end of its section, or adds the section
    // at the end of the file.
    void setValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);
    QByteArray content() const;

private:
    // Inserts a line before line `at` (at the end when `at` is the line count).
    void insertLine(qsizetype at, const QByteArray& text);

    // Lines without their "\n"; a line of a CR LF file keeps its "\r".
    QList<QByteArray> m_lines;
    // Whether the last line ends with a line end.
    bool m_endsWithLineEnd = false;
    // The line end of added lines: the file's own, CR LF for an empty file.
    bool m_crlf = true;
};
