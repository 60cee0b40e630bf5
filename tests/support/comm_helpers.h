// Small comm helpers shared by the tests and the benchmarks (no GoogleTest
// here: the benchmarks include it too).
#pragma once

#include <tarvex/tarvex.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tvhelp
{

// The next message waiting at the node, or false.
inline bool TakeMessage(CCommNode& node, std::string& out)
{
    char* data = nullptr;
    uint32_t size = 0;
    if (!node.IsDataAvailable() || !node.RecvPacket(data, size))
        return false;
    node.RecvFree();
    out.assign(data, size);
    XFREE(data);
    return true;
}

// A remote comm client (raw and node packets) connected to 127.0.0.1:port
// within about 5 s, or null. The caller frees it with XDELETE.
inline CCommRemoteClient* Dial(uint16_t port)
{
    auto* c = XNEW(CCommRemoteClient);
    c->SetPacketTypes(1, 1);
    if (c->Startup() && c->SetRemoteLocation("127.0.0.1", port) && c->Connect())
        for (int i = 0; i < 5000 && !c->IsConnected(); ++i) {
            if (!c->NonBlockedConnectHandler())
                break;
            usleep(1000);
        }
    if (c->IsConnected())
        return c;
    XDELETE(c);
    return nullptr;
}

// A listening socket on 127.0.0.1; port 0 picks a free one (returned).
// -1 on failure.
inline int ListenLoopback(uint16_t& port, int backlog)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// A non-blocking connection to 127.0.0.1:port (the connect may be pending),
// or -1: with a receive buffer of its own size when asked, from a source
// address of its own (host order, any of 127.0.0.0/8) when given, and
// without Nagle's delay when asked.
inline int DialLoopback(uint16_t port, int receiveBuffer = 0, uint32_t source = 0, bool noDelay = false)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    if (noDelay) {
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    if (source != 0) {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = htonl(source);
        if (bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            close(fd);
            return -1;
        }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace tvhelp
