#include "log/keeprules.h"

#include <QDate>

namespace {

// The line's length without its CR LF (or LF) end.
qsizetype contentSize(const char* line, qsizetype size)
{
    if (size > 0 && line[size - 1] == '\n')
        --size;
    if (size > 0 && line[size - 1] == '\r')
        --size;
    return size;
}

} // namespace

int logLineDay(const char* line, qsizetype size)
{
    // Parsed by hand: the age purge asks for every line.
    size = contentSize(line, size);
    qsizetype pos = 0;
    auto number = [&](int minDigits, int maxDigits, int& out) {
        out = 0;
        int digits = 0;
        while (pos < size && digits < maxDigits && line[pos] >= '0' && line[pos] <= '9') {
            out = out * 10 + (line[pos] - '0');
            ++pos;
            ++digits;
        }
        return digits >= minDigits;
    };
    int month = 0;
    int day = 0;
    int year = 0;
    if (!number(1, 2, month) || pos >= size || line[pos++] != '/')
        return -1;
    if (!number(1, 2, day) || pos >= size || line[pos++] != '/')
        return -1;
    if (!number(4, 4, year) || (pos < size && line[pos] != ' '))
        return -1;
    if (!QDate::isValid(year, month, day))
        return -1;
    return year * 10000 + month * 100 + day;
}

LineRewriter::KeepRule keepLinesDatedAfter(int cutoffDay)
{
    return [cutoffDay, keepPrevious = true](const LineRewriter::Line& line) mutable {
        const int day = logLineDay(line.text, line.size);
        keepPrevious = day < 0 ? keepPrevious : day > cutoffDay;
        return keepPrevious;
    };
}

LineRewriter::KeepRule keepNewestBytes(qint64 keepBytes)
{
    return [keepBytes](const LineRewriter::Line& line) {
        return line.offset >= line.logSize - keepBytes || line.offset + line.size == line.logSize;
    };
}
