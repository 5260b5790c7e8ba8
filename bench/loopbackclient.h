#pragma once

#include <QByteArray>

// A plain blocking loopback client for the benchmarks, so that the client's own overhead is
// as small as the socket calls themselves.
namespace LoopbackClient {

inline const QByteArray kVersionRequest("TRANS=VERSION;");
inline const QByteArray kVersionReply("<VERSION>1.0.0</VERSION>");

// A connected socket to 127.0.0.1:port with Nagle off and a five-second receive limit;
// retries for up to five seconds while the server starts. -1 when it cannot connect.
int connectTo(quint16 port);
bool sendAll(int fd, const QByteArray& bytes);
// One request and its whole reply, of `reply`'s length. False when the server stopped
// answering.
bool roundTrip(int fd, const QByteArray& request, const QByteArray& reply);
// One VERSION request and its whole reply.
bool versionRoundTrip(int fd);

} // namespace LoopbackClient
