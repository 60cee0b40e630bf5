// BSD sockets behind the socket layer, with the errno -> Winsock code table.
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace tvp
{

namespace
{

int32_t g_lastError = 0;
int32_t g_startupCalls = 0;

struct ErrnoMap {
    int err;
    int32_t wsa;
};

constexpr ErrnoMap kErrnoMap[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},          {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},          {EMFILE, 10024},          {ENFILE, 10024},
    {EWOULDBLOCK, 10035},  {EAGAIN, 10035},          {EINPROGRESS, 10036},     {EALREADY, 10037},
    {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},        {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045},
    {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},    {EADDRINUSE, 10048},      {EADDRNOTAVAIL, 10049},
    {ENETDOWN, 10050},     {ENETUNREACH, 10051},     {ENETRESET, 10052},       {ECONNABORTED, 10053},
    {ECONNRESET, 10054},   {EPIPE, 10054},           {ENOBUFS, 10055},         {ENOMEM, 10055},
    {EISCONN, 10056},      {ENOTCONN, 10057},        {ESHUTDOWN, 10058},       {ETOOMANYREFS, 10059},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},    {ELOOP, 10062},           {ENAMETOOLONG, 10063},
    {EHOSTDOWN, 10064},    {EHOSTUNREACH, 10065},    {ENOTEMPTY, 10066},       {EUSERS, 10068},
    {EDQUOT, 10069},       {ESTALE, 10070},          {EREMOTE, 10071},
};

int32_t FailErrno()
{
    g_lastError = WinsockFromErrno(errno);
    return -1;
}

int Fd(uint32_t sock) { return static_cast<int>(sock); }
bool Valid(uint32_t sock) { return sock != XINVALID_SOCKET && sock <= 0x7FFFFFFFu; }

} // namespace

int32_t WinsockFromErrno(int err)
{
    if (err == 0)
        return 0;
    for (const auto& m : kErrnoMap)
        if (m.err == err)
            return m.wsa;
    return err;
}

int32_t LastError() { return g_lastError; }
void SetLastError(int32_t code) { g_lastError = code; }

bool NetStartup()
{
    ++g_startupCalls;
    return true;
}

void NetCleanup() {}
int32_t NetStartupCalls() { return g_startupCalls; }

uint32_t Socket()
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        FailErrno();
        return XINVALID_SOCKET;
    }
    return static_cast<uint32_t>(fd);
}

bool Close(uint32_t sock)
{
    if (!Valid(sock)) {
        g_lastError = 10038;
        return false;
    }
    // The descriptor is released even when close reports an error.
    if (::close(Fd(sock)) != 0 && errno != EINTR)
        return FailErrno(), false;
    return true;
}

bool SetNonBlocking(uint32_t sock, bool nonBlocking)
{
    if (!Valid(sock)) {
        g_lastError = 10038;
        return false;
    }
    int flags = ::fcntl(Fd(sock), F_GETFL, 0);
    if (flags < 0)
        return FailErrno(), false;
    int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    // Most calls find the mode already set: no second system call then.
    if (wanted != flags && ::fcntl(Fd(sock), F_SETFL, wanted) != 0)
        return FailErrno(), false;
    return true;
}

int32_t Connect(uint32_t sock, const sockaddr_in& addr)
{
    if (::connect(Fd(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return FailErrno();
    return 0;
}

bool Bind(uint32_t sock, const sockaddr_in& addr)
{
    // A listener may bind again while connections of its previous run are
    // still in TIME_WAIT, as it may on Winsock (one listener per port stays
    // the rule on Linux).
    int one = 1;
    ::setsockopt(Fd(sock), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(Fd(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return FailErrno(), false;
    return true;
}

bool Listen(uint32_t sock, int32_t backlog)
{
    if (::listen(Fd(sock), backlog == kListenBacklogMax ? SOMAXCONN : backlog) != 0)
        return FailErrno(), false;
    return true;
}

bool GetSockName(uint32_t sock, sockaddr_in& addr)
{
    socklen_t len = sizeof addr;
    if (::getsockname(Fd(sock), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return FailErrno(), false;
    return true;
}

uint32_t Accept(uint32_t sock, sockaddr_in* addr)
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(Fd(sock), reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
        FailErrno();
        return XINVALID_SOCKET;
    }
    if (addr != nullptr)
        *addr = peer;
    return static_cast<uint32_t>(fd);
}

int32_t Send(uint32_t sock, const void* buf, uint32_t n)
{
    if (n > 0x7FFFFFFFu)
        n = 0x7FFFFFFFu;
    ssize_t r = ::send(Fd(sock), buf, n, MSG_NOSIGNAL);
    if (r < 0)
        return FailErrno();
    return static_cast<int32_t>(r);
}

int32_t Recv(uint32_t sock, void* buf, uint32_t n)
{
    if (n > 0x7FFFFFFFu)
        n = 0x7FFFFFFFu;
    ssize_t r = ::recv(Fd(sock), buf, n, 0);
    if (r < 0)
        return FailErrno();
    return static_cast<int32_t>(r);
}

bool GetPendingError(uint32_t sock, int32_t& code)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(Fd(sock), SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return FailErrno(), false;
    code = WinsockFromErrno(err);
    return true;
}

bool SetKeepAlive(uint32_t sock, bool on)
{
    int v = on ? 1 : 0;
    if (::setsockopt(Fd(sock), SOL_SOCKET, SO_KEEPALIVE, &v, sizeof v) != 0)
        return FailErrno(), false;
    return true;
}

bool SetNoDelay(uint32_t sock, bool on)
{
    int v = on ? 1 : 0;
    if (::setsockopt(Fd(sock), IPPROTO_TCP, TCP_NODELAY, &v, sizeof v) != 0)
        return FailErrno(), false;
    return true;
}

bool SetIoTimeout(uint32_t sock, uint32_t ms)
{
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(ms / 1000);
    tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
    if (::setsockopt(Fd(sock), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0 ||
        ::setsockopt(Fd(sock), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0)
        return FailErrno(), false;
    return true;
}

int32_t WaitSocket(uint32_t sock, bool read, bool write, int32_t timeoutMs, Readiness& out)
{
    out = Readiness{};
    if (!Valid(sock)) {
        g_lastError = 10038;
        return -1;
    }
    pollfd p{};
    p.fd = Fd(sock);
    p.events = static_cast<short>((read ? POLLIN : 0) | (write ? POLLOUT : 0));
    int r;
    do
        r = ::poll(&p, 1, timeoutMs < 0 ? -1 : timeoutMs);
    while (r < 0 && errno == EINTR);
    if (r < 0)
        return FailErrno();
    if (r == 0)
        return 0;
    if (p.revents & POLLNVAL) {
        g_lastError = 10038;
        return -1;
    }
    out.readable = read && (p.revents & (POLLIN | POLLHUP)) != 0;
    out.writable = write && (p.revents & POLLOUT) != 0;
    // A socket with an error pending is what Winsock reports in the
    // exception set (a failed connect shows as writable here): look at the
    // error once, and keep it for the caller since reading clears it.
    if ((p.revents & POLLERR) != 0 || (write && out.writable)) {
        int32_t code = 0;
        bool known = GetPendingError(sock, code);
        if ((known && code != 0) || (!known && (p.revents & POLLERR) != 0)) {
            out.failed = true;
            out.pendingError = known ? code : 0;
            out.writable = false;
        }
    }
    return (out.readable || out.writable || out.failed) ? 1 : 0;
}

int32_t WaitAnyReadable(const uint32_t* socks, uint32_t count, uint32_t timeoutMs)
{
    // One descriptor array per process, kept between calls: the frame waits
    // every round, often over thousands of sockets.
    static std::vector<pollfd> fds;
    fds.clear();
    for (uint32_t i = 0; i < count; ++i)
        if (Valid(socks[i]))
            fds.push_back(pollfd{Fd(socks[i]), POLLIN | POLLPRI, 0});
    int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    int r = ::poll(fds.data(), static_cast<nfds_t>(fds.size()), timeout);
    if (r < 0)
        return FailErrno();
    return r;
}

bool PollReadable(const uint32_t* socks, uint32_t count, uint8_t* ready)
{
    static std::vector<pollfd> fds;
    fds.resize(count);
    for (uint32_t i = 0; i < count; ++i)
        fds[i] = pollfd{Valid(socks[i]) ? Fd(socks[i]) : -1, POLLIN, 0};
    int r = ::poll(fds.data(), static_cast<nfds_t>(count), 0);
    for (uint32_t i = 0; i < count; ++i)
        ready[i] = r < 0 ? 1 : (fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0 ? 1 : 0;
    if (r < 0)
        FailErrno();
    return r >= 0;
}

uint32_t InetAddr(const char* dotted)
{
    in_addr a{};
    if (dotted == nullptr || ::inet_aton(dotted, &a) == 0)
        return INADDR_NONE;
    return a.s_addr;
}

bool ResolveName(const char* name, uint32_t& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    int r = ::getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0 || list == nullptr) {
        g_lastError = r == EAI_AGAIN ? 11002 : r == EAI_FAIL ? 11003 : WSA_HOST_NOT_FOUND;
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return true;
}

bool HostName(char* buf, uint32_t size)
{
    if (buf == nullptr || size == 0 || ::gethostname(buf, size) != 0)
        return false;
    buf[size - 1] = 0;
    return true;
}

} // namespace tvp
