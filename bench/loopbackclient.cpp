#include "loopbackclient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace LoopbackClient {

int connectTo(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return fd;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
}

bool sendAll(int fd, const QByteArray& bytes)
{
    return ::send(fd, bytes.constData(), bytes.size(), 0) == bytes.size();
}

bool versionRoundTrip(int fd)
{
    return roundTrip(fd, kVersionRequest, kVersionReply);
}

bool roundTrip(int fd, const QByteArray& request, const QByteArray& reply)
{
    if (!sendAll(fd, request))
        return false;
    char buffer[256];
    qsizetype received = 0;
    while (received < reply.size()) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        received += n;
    }
    return true;
}

} // namespace LoopbackClient
