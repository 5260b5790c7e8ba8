#include "doors/httprequest.h"

#include <QList>

namespace {

// The line's text without its CR before the LF.
QByteArrayView withoutCarriageReturn(QByteArrayView line)
{
    return line.endsWith('\r') ? line.chopped(1) : line;
}

bool isTokenChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool isToken(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (const char c : text)
        if (!isTokenChar(c))
            return false;
    return true;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The path of a request target; empty when the target has none of the forms served.
QByteArray targetPath(QByteArrayView target)
{
    if (target == "*")
        return "*";
    QByteArrayView path;
    if (target.startsWith('/')) {
        path = target;
    } else {
        const QByteArray lower = target.toByteArray().toLower();
        const qsizetype scheme = lower.startsWith("http://")    ? 7
                                 : lower.startsWith("https://") ? 8
                                                                : -1;
        if (scheme < 0)
            return {};
        const qsizetype slash = target.indexOf('/', scheme);
        const qsizetype query = target.indexOf('?', scheme);
        if (slash < 0 || (query >= 0 && query < slash))
            return "/";
        path = target.sliced(slash);
    }
    if (const qsizetype query = path.indexOf('?'); query >= 0)
        path = path.first(query);
    return path.toByteArray();
}

} // namespace

qsizetype httpHeadLength(QByteArrayView bytes)
{
    bool seenRequestLine = false;
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            return -1;
        const bool empty = withoutCarriageReturn(bytes.sliced(start, end - start)).isEmpty();
        if (empty && seenRequestLine)
            return end + 1;
        seenRequestLine = seenRequestLine || !empty;
        start = end + 1;
    }
}

HttpRequestHead readHttpRequestHead(QByteArrayView head)
{
    HttpRequestHead result;
    QList<QByteArrayView> lines;
    for (qsizetype start = 0; start < head.size();) {
        qsizetype end = head.indexOf('\n', start);
        if (end < 0)
            end = head.size();
        const QByteArrayView line = withoutCarriageReturn(head.sliced(start, end - start));
        if (!line.isEmpty() || !lines.isEmpty())
            lines.append(line);
        start = end + 1;
    }
    result.error = 400;
    if (lines.isEmpty())
        return result;

    // method SP request-target SP HTTP-version, single spaces.
    const QByteArrayView requestLine = lines.first();
    const qsizetype firstSpace = requestLine.indexOf(' ');
    const qsizetype lastSpace = requestLine.lastIndexOf(' ');
    if (firstSpace <= 0 || lastSpace <= firstSpace + 1)
        return result;
    const QByteArrayView method = requestLine.first(firstSpace);
    const QByteArrayView target = requestLine.sliced(firstSpace + 1, lastSpace - firstSpace - 1);
    const QByteArrayView version = requestLine.sliced(lastSpace + 1);
    if (!isToken(method) || target.contains(' ') || target.contains('\t'))
        return result;
    if (version.size() != 8 || !version.startsWith("HTTP/") || !isDigit(version[5]) ||
        version[6] != '.' || !isDigit(version[7]))
        return result;
    const QByteArray path = targetPath(target);
    if (path.isEmpty())
        return result;

    // name ":" value; a line folded onto the one before, or a space before the colon, is
    // refused rather than guessed at.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArrayView line = lines.at(i);
        if (line.isEmpty())
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || !isToken(line.first(colon)))
            return result;
    }
    if (version[5] != '1') {
        result.error = 505;
        return result;
    }
    result.error = 0;
    result.method = method.toByteArray();
    result.path = path;
    return result;
}
