// Winsock behind the socket layer. Error codes are Winsock's own, so the
// layer's checks and messages need no mapping here; WinsockFromErrno stays
// for callers that hold a C runtime errno value.
#include "platform/net.h"

#include "platform/win.h"

#include <cerrno>
#include <climits>
#include <vector>

namespace tvp
{

namespace
{

int32_t g_startupCalls = 0;

struct ErrnoMap {
    int err;
    int32_t wsa;
};

constexpr ErrnoMap kErrnoMap[] = {
    {EINTR, 10004},        {EBADF, 10009},           {EACCES, 10013},      {EPERM, 10013},
    {EFAULT, 10014},       {EINVAL, 10022},          {EMFILE, 10024},      {ENFILE, 10024},
    {EWOULDBLOCK, 10035},  {EAGAIN, 10035},          {EINPROGRESS, 10036}, {EALREADY, 10037},
    {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},    {EPROTOTYPE, 10041},
    {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043}, {EOPNOTSUPP, 10045},  {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049},   {ENETDOWN, 10050},    {ENETUNREACH, 10051},
    {ENETRESET, 10052},    {ECONNABORTED, 10053},    {ECONNRESET, 10054},  {EPIPE, 10054},
    {ENOBUFS, 10055},      {ENOMEM, 10055},          {EISCONN, 10056},     {ENOTCONN, 10057},
    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},    {ELOOP, 10062},       {ENAMETOOLONG, 10063},
    {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},
};

int32_t Fail()
{
    SetLastError(::WSAGetLastError());
    return -1;
}

// Winsock's "no socket" (its INVALID_SOCKET, a name the library uses for its own).
constexpr SOCKET kNoSocket = ~SOCKET{0};

SOCKET Sock(uint32_t sock) { return static_cast<SOCKET>(sock); }
bool Valid(uint32_t sock) { return sock != XINVALID_SOCKET; }

int32_t g_lastError = 0;

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
void SetLastError(int32_t code)
{
    g_lastError = code;
    ::WSASetLastError(code);
}

bool NetStartup()
{
    ++g_startupCalls;
    WSADATA data{};
    const int r = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (r != 0) {
        SetLastError(r);
        return false;
    }
    return true;
}

void NetCleanup() { ::WSACleanup(); }
int32_t NetStartupCalls() { return g_startupCalls; }

uint32_t Socket()
{
    // Not inherited by processes the application starts.
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == kNoSocket) {
        Fail();
        return XINVALID_SOCKET;
    }
    // Socket handles are kernel handles, which Windows keeps below 2^32 so
    // that 32-bit and 64-bit processes can share them.
    return static_cast<uint32_t>(s);
}

bool Close(uint32_t sock)
{
    if (!Valid(sock)) {
        SetLastError(WSAENOTSOCK);
        return false;
    }
    if (::closesocket(Sock(sock)) != 0)
        return Fail(), false;
    return true;
}

bool SetNonBlocking(uint32_t sock, bool nonBlocking)
{
    if (!Valid(sock)) {
        SetLastError(WSAENOTSOCK);
        return false;
    }
    u_long mode = nonBlocking ? 1 : 0;
    if (::ioctlsocket(Sock(sock), FIONBIO, &mode) != 0)
        return Fail(), false;
    return true;
}

int32_t Connect(uint32_t sock, const sockaddr_in& addr)
{
    if (::connect(Sock(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        Fail();
        // Winsock answers a pending non-blocking connect with "would block";
        // the layer expects the BSD answer "in progress".
        if (g_lastError == WSAEWOULDBLOCK)
            SetLastError(WSAEINPROGRESS);
        return -1;
    }
    return 0;
}

bool Bind(uint32_t sock, const sockaddr_in& addr)
{
    // Winsock binds again while connections of a previous run are in
    // TIME_WAIT without SO_REUSEADDR, which here would let two listeners
    // share a port: exclusive use instead.
    BOOL one = TRUE;
    ::setsockopt(Sock(sock), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&one),
                 sizeof one);
    if (::bind(Sock(sock), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return Fail(), false;
    return true;
}

bool Listen(uint32_t sock, int32_t backlog)
{
    if (::listen(Sock(sock), backlog == kListenBacklogMax ? SOMAXCONN : backlog) != 0)
        return Fail(), false;
    return true;
}

bool GetSockName(uint32_t sock, sockaddr_in& addr)
{
    int len = sizeof addr;
    if (::getsockname(Sock(sock), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return Fail(), false;
    return true;
}

uint32_t Accept(uint32_t sock, sockaddr_in* addr)
{
    sockaddr_in peer{};
    int len = sizeof peer;
    const SOCKET s = ::accept(Sock(sock), reinterpret_cast<sockaddr*>(&peer), &len);
    if (s == kNoSocket) {
        Fail();
        return XINVALID_SOCKET;
    }
    // An accepted socket inherits the listener's non-blocking mode on
    // Winsock; on BSD it starts blocking, which the layer relies on.
    u_long mode = 0;
    ::ioctlsocket(s, FIONBIO, &mode);
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    if (addr != nullptr)
        *addr = peer;
    return static_cast<uint32_t>(s);
}

int32_t Send(uint32_t sock, const void* buf, uint32_t n)
{
    if (n > 0x7FFFFFFFu)
        n = 0x7FFFFFFFu;
    const int r = ::send(Sock(sock), static_cast<const char*>(buf), static_cast<int>(n), 0);
    if (r == SOCKET_ERROR)
        return Fail();
    return r;
}

int32_t Recv(uint32_t sock, void* buf, uint32_t n)
{
    if (n > 0x7FFFFFFFu)
        n = 0x7FFFFFFFu;
    const int r = ::recv(Sock(sock), static_cast<char*>(buf), static_cast<int>(n), 0);
    if (r == SOCKET_ERROR)
        return Fail();
    return r;
}

bool GetPendingError(uint32_t sock, int32_t& code)
{
    int err = 0;
    int len = sizeof err;
    if (::getsockopt(Sock(sock), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
        return Fail(), false;
    code = err;
    return true;
}

bool SetKeepAlive(uint32_t sock, bool on)
{
    BOOL v = on ? TRUE : FALSE;
    if (::setsockopt(Sock(sock), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&v), sizeof v) != 0)
        return Fail(), false;
    return true;
}

bool SetNoDelay(uint32_t sock, bool on)
{
    BOOL v = on ? TRUE : FALSE;
    if (::setsockopt(Sock(sock), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&v), sizeof v) != 0)
        return Fail(), false;
    return true;
}

bool SetIoTimeout(uint32_t sock, uint32_t ms)
{
    DWORD v = ms;
    if (::setsockopt(Sock(sock), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&v), sizeof v) != 0 ||
        ::setsockopt(Sock(sock), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&v), sizeof v) != 0)
        return Fail(), false;
    return true;
}

int32_t WaitSocket(uint32_t sock, bool read, bool write, int32_t timeoutMs, Readiness& out)
{
    out = Readiness{};
    if (!Valid(sock)) {
        SetLastError(WSAENOTSOCK);
        return -1;
    }
    // select, not WSAPoll: a failed connect shows in the exception set.
    fd_set rs, ws, es;
    FD_ZERO(&rs);
    FD_ZERO(&ws);
    FD_ZERO(&es);
    if (read)
        FD_SET(Sock(sock), &rs);
    if (write)
        FD_SET(Sock(sock), &ws);
    FD_SET(Sock(sock), &es);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int r = ::select(0, &rs, &ws, &es, timeoutMs < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR)
        return Fail();
    if (r == 0)
        return 0;
    out.readable = read && FD_ISSET(Sock(sock), &rs);
    out.writable = write && FD_ISSET(Sock(sock), &ws);
    if (FD_ISSET(Sock(sock), &es)) {
        int32_t code = 0;
        const bool known = GetPendingError(sock, code);
        out.failed = true;
        out.pendingError = known ? code : 0;
        out.writable = false;
    }
    return (out.readable || out.writable || out.failed) ? 1 : 0;
}

int32_t WaitAnyReadable(const uint32_t* socks, uint32_t count, uint32_t timeoutMs)
{
    static std::vector<WSAPOLLFD> fds;
    fds.clear();
    for (uint32_t i = 0; i < count; ++i)
        if (Valid(socks[i]))
            fds.push_back(WSAPOLLFD{Sock(socks[i]), POLLRDNORM | POLLRDBAND, 0});
    const int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
    if (fds.empty()) {
        // WSAPoll refuses an empty set; the wait is then only a sleep.
        ::Sleep(static_cast<DWORD>(timeout));
        return 0;
    }
    const int r = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), timeout);
    if (r == SOCKET_ERROR)
        return Fail();
    return r;
}

bool PollReadable(const uint32_t* socks, uint32_t count, uint8_t* ready)
{
    static std::vector<WSAPOLLFD> fds;
    static std::vector<uint32_t> index;
    fds.clear();
    index.clear();
    for (uint32_t i = 0; i < count; ++i) {
        ready[i] = 0;
        if (Valid(socks[i])) {
            fds.push_back(WSAPOLLFD{Sock(socks[i]), POLLRDNORM, 0});
            index.push_back(i);
        }
    }
    if (fds.empty())
        return true;
    const int r = ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 0);
    for (size_t k = 0; k < fds.size(); ++k)
        ready[index[k]] = r < 0                                                                 ? 1
                          : (fds[k].revents & (POLLRDNORM | POLLHUP | POLLERR | POLLNVAL)) != 0 ? 1
                                                                                                : 0;
    if (r < 0)
        Fail();
    return r >= 0;
}

uint32_t InetAddr(const char* dotted)
{
    // inet_addr reads the same dotted forms as BSD's inet_aton.
    if (dotted == nullptr || *dotted == 0)
        return INADDR_NONE;
    return ::inet_addr(dotted);
}

bool ResolveName(const char* name, uint32_t& address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    const int r = ::getaddrinfo(name, nullptr, &hints, &list);
    if (r != 0 || list == nullptr) {
        // getaddrinfo's answers are the Winsock codes already.
        SetLastError(r == WSATRY_AGAIN || r == WSANO_RECOVERY ? r : WSA_HOST_NOT_FOUND);
        if (list != nullptr)
            ::freeaddrinfo(list);
        return false;
    }
    address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(list);
    return true;
}

bool HostName(char* buf, uint32_t size)
{
    if (buf == nullptr || size == 0 || ::gethostname(buf, static_cast<int>(size)) != 0)
        return false;
    buf[size - 1] = 0;
    return true;
}

} // namespace tvp
