// Platform sockets: thin wrappers over BSD sockets that speak in the
// library's terms. Sockets are 32-bit values with XINVALID_SOCKET (all bits
// set) for none; every failure leaves a Winsock error code (10035, 10054, ...)
// in LastError(), mapped from errno through one table, so the socket layer's
// checks and messages read the same on every platform. Private to the library.
#pragma once

#include <cstdint>

struct sockaddr_in;

namespace tvp
{

constexpr uint32_t XINVALID_SOCKET = 0xFFFFFFFFu;

// Winsock codes the socket layer tests for.
enum : int32_t {
    WSA_OK = 0,
    WSA_EWOULDBLOCK = 10035,
    WSA_EINPROGRESS = 10036,
    WSA_ECONNRESET = 10054,
    WSA_ECONNREFUSED = 10061,
    WSA_HOST_NOT_FOUND = 11001,
};

// The Winsock code of an errno value; values without a Winsock counterpart
// come back unchanged (and so read as an unknown Winsock error).
int32_t WinsockFromErrno(int err);
// The code of the last failing call of this layer (like WSAGetLastError).
int32_t LastError();
void SetLastError(int32_t code);

// Process start and stop of the socket library; Startup counts its calls.
bool NetStartup();
void NetCleanup();
int32_t NetStartupCalls();

uint32_t Socket(); // TCP over IPv4; XINVALID_SOCKET on failure
bool Close(uint32_t sock);
bool SetNonBlocking(uint32_t sock, bool nonBlocking);
// 0 success, -1 failure (LastError: WSA_EINPROGRESS for a pending connect).
int32_t Connect(uint32_t sock, const sockaddr_in& addr);
bool Bind(uint32_t sock, const sockaddr_in& addr);
// backlog kListenBacklogMax: the longest accept queue the system allows.
constexpr int32_t kListenBacklogMax = -1;
bool Listen(uint32_t sock, int32_t backlog);
bool GetSockName(uint32_t sock, sockaddr_in& addr);
// XINVALID_SOCKET on failure; the peer address into addr when given.
uint32_t Accept(uint32_t sock, sockaddr_in* addr);
// Bytes moved, or -1 (LastError set). Send never raises SIGPIPE.
int32_t Send(uint32_t sock, const void* buf, uint32_t n);
int32_t Recv(uint32_t sock, void* buf, uint32_t n);
// Reads and clears the pending error as a Winsock code (0 none).
bool GetPendingError(uint32_t sock, int32_t& code);
bool SetKeepAlive(uint32_t sock, bool on);
// Sends small writes at once rather than gathering them (TCP_NODELAY).
bool SetNoDelay(uint32_t sock, bool on);
// Receive and send time-outs of a blocking socket (0 = none).
bool SetIoTimeout(uint32_t sock, uint32_t ms);

// Readiness of one socket. timeoutMs < 0 waits for ever. failed is the
// counterpart of Winsock's exception set: the socket carries an error (a
// refused or reset connection); pendingError holds it (read once, cleared).
struct Readiness {
    bool readable = false;
    bool writable = false;
    bool failed = false;
    int32_t pendingError = 0;
};
// 1 ready (some flag set), 0 time-out, -1 failure (LastError set).
int32_t WaitSocket(uint32_t sock, bool read, bool write, int32_t timeoutMs, Readiness& out);

// Waits until one of the sockets is readable, has hung up or carries an
// error, or timeoutMs pass; what woke it is not reported. Any number of
// sockets of any descriptor value (poll, not select); invalid values are
// skipped. Result: the number of ready sockets, 0 on time-out, -1 failure.
int32_t WaitAnyReadable(const uint32_t* socks, uint32_t count, uint32_t timeoutMs);

// One look at many sockets without waiting: ready[i] = 1 when socket i is
// readable, has hung up or carries an error (invalid values give 0).
// Returns false when the look itself failed (ready is then all 1: read and
// see).
bool PollReadable(const uint32_t* socks, uint32_t count, uint8_t* ready);

// Name resolution. The dotted form: INADDR_NONE (all bits) when not dotted.
uint32_t InetAddr(const char* dotted);
// First IPv4 address (network order) of a host name; false when none.
bool ResolveName(const char* name, uint32_t& address);
bool HostName(char* buf, uint32_t size);

} // namespace tvp
