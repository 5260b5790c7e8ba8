#include "doors/httpresponse.h"

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 501:
        return "Not Implemented";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

} // namespace

QByteArray httpResponseBytes(const HttpResponse& response, bool withBody)
{
    QByteArray bytes = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                       reasonPhrase(response.status) + "\r\nContent-Type: " + response.contentType +
                       "\r\nContent-Length: " + QByteArray::number(response.body.size()) + "\r\n" +
                       response.headers + "Connection: close\r\n\r\n";
    if (withBody)
        bytes += response.body;
    return bytes;
}
