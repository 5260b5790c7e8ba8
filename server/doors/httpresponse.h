#pragma once

#include <QByteArray>

// One answer of the server's small HTTP listeners; the connection closes after it.
struct HttpResponse
{
    int status = 200;
    QByteArray contentType = "text/plain";
    QByteArray body;
    // Header lines written after Content-Length, each ending in CRLF.
    QByteArray headers;
};

// The bytes of `response` as HTTP/1.1 sends them: the status line, Content-Type,
// Content-Length, the extra headers and "Connection: close", then the body unless `withBody`
// is false (the answer to a HEAD, which tells the length it would have had).
QByteArray httpResponseBytes(const HttpResponse& response, bool withBody = true);
