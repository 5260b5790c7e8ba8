#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The start of an HTTP/1.x request, as far as the server's small HTTP listeners need it.
struct HttpRequestHead
{
    // 0 when the head is sound, else the status to answer: 400 for a malformed request line or
    // header line, 505 for a version other than 1.x.
    int error = 0;
    QByteArray method;
    // The target's path without its query, from the origin form ("/metrics?x=1") or the
    // absolute form ("http://box:9100/metrics"); "*" for the asterisk form.
    QByteArray path;
};

// The length of the head at the start of `bytes`, up to and including the empty line that ends
// it; -1 while that line has not come. Lines may end in CRLF or a bare LF, and empty lines
// before the request line are passed over.
qsizetype httpHeadLength(QByteArrayView bytes);

// Reads a head that httpHeadLength() found whole.
HttpRequestHead readHttpRequestHead(QByteArrayView head);
