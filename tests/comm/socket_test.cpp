// The socket layer over plain TCP on loopback: start-up counting, argument
// and crypt-data checks, the connect / listen / transfer life cycle, peer
// close and reset, refused and pending connects, the socket wait and its
// registration lists, name resolution and the proxy location record.
#include "comm_net.h"

#include "platform/net.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using tvtest::LastError;
using tvtest::Until;

namespace
{

class SocketTest : public tvtest::SocketTest
{
};

TEST_F(SocketTest, StartupCountsUsersAndStartsOnce)
{
    int before = tvp::NetStartupCalls();
    SCryptData second;
    int32_t secondCode = 0;
    ASSERT_EQ(xStartupSockets(secondCode, 0, &second), TRUE);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(secondCode, 2);
    EXPECT_EQ(sglb->socketsStarted, 2);
    EXPECT_EQ(tvp::NetStartupCalls(), before);
    EXPECT_EQ(second.initialised, 1);
    EXPECT_EQ(second.startupFlag, 0);
    EXPECT_EQ(cd.startupFlag, 1);
    ASSERT_EQ(xClosedownSockets(secondCode, &second), TRUE);
    EXPECT_EQ(secondCode, 0);
    EXPECT_EQ(code, 1);
    EXPECT_EQ(sglb->socketsStarted, 2);
    xCleanupSockets();
    EXPECT_EQ(sglb->socketsStarted, 0);
}

TEST_F(SocketTest, RefusesInvalidCryptDataAndArguments)
{
    SCryptData fresh;
    uint32_t sock = INVALID_SOCKET;
    int32_t flag = 0;
    int32_t c = 0;
    EXPECT_EQ(xStartupSockets(c, 1, nullptr), FALSE);
    EXPECT_EQ(LastError(), "xStartupSockets: cryptData is invalid.");
    EXPECT_EQ(xConnectSocket("127.0.0.1", 80, nullptr, 0, sock, nullptr, &fresh), FALSE);
    EXPECT_EQ(LastError(), "xConnectSocket: Crypt data is invalid.");
    EXPECT_EQ(xDisconnectSocket(sock, flag, nullptr), FALSE);
    EXPECT_EQ(LastError(), "xDisconnectSocket: Crypt data is invalid.");
    EXPECT_EQ(xSetClientEncryption(&fresh), FALSE);
    EXPECT_EQ(LastError(), "xSetEncryption: Crypt data is invalid.");
    EXPECT_EQ(fresh.encrypted, 0);

    EXPECT_EQ(xConnectSocket("127.0.0.1", 0, nullptr, 0, sock, nullptr, &cd), FALSE);
    EXPECT_EQ(LastError(), "ConnectSocket: Invalid name or port");
    EXPECT_EQ(xConnectSocket(nullptr, 80, nullptr, 0, sock, nullptr, &cd), FALSE);
    EXPECT_EQ(sock, INVALID_SOCKET);
    EXPECT_EQ(xConnectSocket("no-such-host.invalid", 80, nullptr, 0, sock, nullptr, &cd), FALSE);
    EXPECT_EQ(LastError(), "xConnectSocket: Can't find server: no-such-host.invalid");
    EXPECT_EQ(sock, INVALID_SOCKET);
}

TEST_F(SocketTest, WinsockErrorTexts)
{
    EXPECT_STREQ(xSocketErrorText(10000), "[0] No Error");
    EXPECT_STREQ(xSocketErrorText(10054), "WSAECONNRESET: Connection reset by peer");
    EXPECT_STREQ(xSocketErrorText(11004), "WSANO_DATA: Valid name, no data record of requested type");
    EXPECT_STREQ(xSocketErrorText(10001), "Unknown winsocket error");
    EXPECT_STREQ(xSocketErrorText(0), "Unknown winsocket error");
    struct {
        int err;
        int32_t wsa;
    } map[] = {{EWOULDBLOCK, 10035}, {EAGAIN, 10035},       {EINPROGRESS, 10036},
               {ECONNRESET, 10054},  {ECONNREFUSED, 10061}, {EPIPE, 10054},
               {ETIMEDOUT, 10060},   {EADDRINUSE, 10048},   {0, 0},
               {ENOENT, ENOENT}};
    for (auto m : map)
        EXPECT_EQ(tvp::WinsockFromErrno(m.err), m.wsa) << m.err;
}

TEST_F(SocketTest, LifeCycleWithBulkTransferAndPeerClose)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    ASSERT_TRUE(ConnectPair(port)) << LastError();
    ASSERT_EQ(MakeSocketNonBlocking(serverSock, serverUp, &cd), TRUE);

    // A few MB each way, moved in steps by both sides in turn.
    const uint32_t n = 3u * 1024u * 1024u + 17u;
    std::vector<char> out(n), back(n), in(n), inBack(n);
    for (uint32_t i = 0; i < n; ++i) {
        out[i] = static_cast<char>(i * 7 + (i >> 13));
        back[i] = static_cast<char>(i * 13 + 1);
    }
    uint32_t sent = 0, recvd = 0, sentBack = 0, recvdBack = 0;
    bool ok = Until(
        [&] {
            EXPECT_EQ(xNonBlockedHandler(clientSock, clientUp, inBack.data(), recvdBack, n, out.data(), sent,
                                         n, &cd),
                      TRUE);
            EXPECT_EQ(
                xNonBlockedHandler(serverSock, serverUp, in.data(), recvd, n, back.data(), sentBack, n, &cd),
                TRUE);
            return recvd == n && recvdBack == n;
        },
        20000);
    ASSERT_TRUE(ok) << recvd << " " << recvdBack << " " << LastError();
    EXPECT_EQ(in, out);
    EXPECT_EQ(inBack, back);
    EXPECT_EQ(clientUp, 1);
    EXPECT_EQ(xCheckConnectionUp(clientSock, clientUp, &cd), TRUE);
    EXPECT_EQ(clientUp, 1);

    // The client goes away: the server's next receive sees 0 bytes.
    ASSERT_EQ(xDisconnectSocket(clientSock, clientUp, &cd), TRUE);
    EXPECT_EQ(clientSock, INVALID_SOCKET);
    EXPECT_EQ(clientUp, 0);
    char byte = 0;
    uint32_t got = 0, none = 0;
    ASSERT_TRUE(Until([&] {
        EXPECT_EQ(xNonBlockedHandler(serverSock, serverUp, &byte, got, 1, nullptr, none, 0, &cd), TRUE);
        return serverUp == 0;
    }));
    EXPECT_EQ(serverSock, INVALID_SOCKET);
    EXPECT_EQ(got, 0u);

    int32_t running = 1;
    EXPECT_EQ(xStopListenSocket(listenSock, running, &cd), TRUE);
    EXPECT_EQ(listenSock, INVALID_SOCKET);
    EXPECT_EQ(running, 0);
    EXPECT_EQ(xStopListenSocket(listenSock, running, &cd), TRUE);
}

TEST_F(SocketTest, BlockedHandlersAndBlockedListen)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    ASSERT_EQ(xConnectSocket("localhost", port, nullptr, 0, clientSock, nullptr, &cd), TRUE);
    ASSERT_EQ(xBlockedConnectHandler("localhost", port, nullptr, 0, clientSock, clientUp, 0, &cd), TRUE);
    EXPECT_EQ(clientUp, 1);
    int32_t running = 0, accepted = 0;
    sockaddr_in peer{};
    ASSERT_EQ(xBlockedListenHandler(listenSock, serverSock, &peer, running, accepted, &cd), TRUE);
    EXPECT_EQ(accepted, 1);
    EXPECT_EQ(running, 1);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    serverUp = 1;

    const char msg[] = "blocked hello";
    char buf[sizeof msg] = {};
    uint32_t sent = 0, got = 0, zero = 0;
    ASSERT_EQ(xBlockedHandler(clientSock, clientUp, nullptr, zero, 0, msg, sent, sizeof msg, &cd), TRUE);
    EXPECT_EQ(sent, sizeof msg);
    while (got < sizeof msg)
        ASSERT_EQ(xBlockedHandler(serverSock, serverUp, buf, got, sizeof msg, nullptr, zero, 0, &cd), TRUE);
    EXPECT_STREQ(buf, msg);
}

// A burst of clients while the program is busy waits in the accept queue:
// every connect completes at once and every one is accepted afterwards.
// With a short queue the later handshakes are dropped and retried a second
// or more later, and a client whose handshake finished while the queue was
// full is reset when the server finally drops it.
TEST_F(SocketTest, BurstOfConnectsWaitsInTheAcceptQueue)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    constexpr int kClients = 100;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> fds;
    for (int i = 0; i < kClients; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        fds.push_back(fd);
        int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        ASSERT_TRUE(r == 0 || errno == EINPROGRESS) << std::strerror(errno);
    }
    // Well under the first retransmission of a dropped handshake (1 s).
    int connected = 0;
    auto start = std::chrono::steady_clock::now();
    for (int fd : fds) {
        pollfd p{fd, POLLOUT, 0};
        int left = 500 - static_cast<int>(tvtest::ElapsedMs(start));
        int soError = -1;
        socklen_t len = sizeof soError;
        if (::poll(&p, 1, left > 0 ? left : 0) == 1 &&
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError == 0)
            ++connected;
    }
    EXPECT_EQ(connected, kClients);
    int accepted = 0;
    for (int i = 0; i < kClients + 1; ++i) {
        uint32_t s = INVALID_SOCKET;
        ASSERT_EQ(xAcceptIncomingConnection(listenSock, s, nullptr, &cd), TRUE);
        if (s == INVALID_SOCKET)
            break;
        ++accepted;
        xCloseSocket(s);
    }
    EXPECT_EQ(accepted, kClients);
    for (int fd : fds)
        ::close(fd);
}

TEST_F(SocketTest, RefusedConnectIsReported)
{
    uint16_t port = Listen();
    ASSERT_NE(port, 0);
    xCloseSocket(listenSock); // nothing listens there any more
    glb->error.Clear();
    if (xConnectSocket("127.0.0.1", port, nullptr, 0, clientSock, nullptr, &cd)) {
        int32_t r = TRUE;
        ASSERT_TRUE(Until([&] {
            r = xNonBlockedConnectHandler("127.0.0.1", port, nullptr, 0, clientSock, clientUp, &cd);
            return r == FALSE || clientUp == 1;
        }));
        EXPECT_EQ(r, FALSE);
    }
    EXPECT_EQ(LastError(), "WSAECONNREFUSED: Connection refused");
    EXPECT_EQ(clientSock, INVALID_SOCKET);
    EXPECT_EQ(clientUp, 0);
}

// A listener whose queue is full never answers a further connect.
class FullListener
{
  public:
    FullListener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 0);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
        // Fill the queue.
        for (int& f : fillers) {
            f = ::socket(AF_INET, SOCK_STREAM, 0);
            ::connect(f, reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
    }
    ~FullListener()
    {
        for (int f : fillers)
            ::close(f);
        ::close(fd);
    }
    int fd;
    int fillers[1];
    uint16_t port;
};

TEST_F(SocketTest, PendingConnectPollsAndBlockedConnectTimesOut)
{
    FullListener full;
    ASSERT_EQ(xConnectSocket("127.0.0.1", full.port, nullptr, 0, clientSock, nullptr, &cd), TRUE);
    EXPECT_EQ(xNonBlockedConnectHandler("127.0.0.1", full.port, nullptr, 0, clientSock, clientUp, &cd), TRUE);
    EXPECT_EQ(clientUp, 0);
    EXPECT_NE(clientSock, INVALID_SOCKET);
    // The blocked handler gives up after its 10 seconds.
    EXPECT_EQ(xBlockedConnectHandler("127.0.0.1", full.port, nullptr, 0, clientSock, clientUp, 0, &cd),
              FALSE);
    EXPECT_EQ(clientUp, 0);
    EXPECT_EQ(LastError(), "WSAETIMEDOUT: Connection timed out");
}

TEST_F(SocketTest, ResetPeerIsNoticedByConnectionCheck)
{
    uint16_t port = Listen();
    ASSERT_TRUE(ConnectPair(port)) << LastError();
    // The server side aborts: the client gets a reset.
    linger l{1, 0};
    ::setsockopt(static_cast<int>(serverSock), SOL_SOCKET, SO_LINGER, &l, sizeof l);
    xCloseSocket(serverSock);
    pollfd p{static_cast<int>(clientSock), POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 5000), 1);
    glb->error.Clear();
    EXPECT_EQ(xCheckConnectionUp(clientSock, clientUp, &cd), TRUE);
    EXPECT_EQ(clientSock, INVALID_SOCKET);
    EXPECT_EQ(clientUp, 0);
    EXPECT_EQ(LastError(), "WSAECONNRESET: Connection reset by peer");
}

TEST_F(SocketTest, NameResolution)
{
    EXPECT_EQ(xSocketGetAddr("255.255.255.255", &cd), 0xFFFFFFFFu);
    EXPECT_EQ(xSocketGetAddr("127.0.0.1", &cd), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(xSocketGetAddr(nullptr, &cd), 0u);
    EXPECT_EQ(xSocketGetAddr("no-such-host.invalid", &cd), 0u);
    uint32_t local = xSocketGetAddr("localhost", &cd);
    EXPECT_EQ(local & 0xFF, 127u); // first byte in memory order
}

// ---------------------------------------------------------------- the socket wait

struct FakeComm {
    uint32_t sock;
    int calls = 0;
};

int32_t ReadFake(void* object, uint32_t socks[2])
{
    auto* f = static_cast<FakeComm*>(object);
    ++f->calls;
    socks[0] = f->sock;
    return 1;
}

TEST_F(SocketTest, WaitWakesOnTrafficOrTimesOut)
{
    uint16_t port = Listen();
    ASSERT_TRUE(ConnectPair(port)) << LastError();
    CLList list;
    list.InsertLast(&serverSock);

    auto start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(150, &list);
    EXPECT_GE(tvtest::ElapsedMs(start), 140u);

    const char b = 'x';
    uint32_t sent = 0, zero = 0;
    ASSERT_EQ(xNonBlockedHandler(clientSock, clientUp, nullptr, zero, 0, &b, sent, 1, &cd), TRUE);
    start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(20000, &list);
    EXPECT_LT(tvtest::ElapsedMs(start), 10000u);
}

// The wait watches sockets whatever their descriptor value, and any number
// of them: a relay proxy holds thousands.
TEST_F(SocketTest, WaitWatchesHighDescriptors)
{
    uint16_t port = Listen();
    ASSERT_TRUE(ConnectPair(port)) << LastError();
    int high = fcntl(static_cast<int>(serverSock), F_DUPFD_CLOEXEC, 1500);
    ASSERT_GE(high, 1500) << "descriptor limit too low";
    // Many idle sockets before the busy one.
    std::vector<uint32_t> idle(1100, static_cast<uint32_t>(listenSock));
    uint32_t highSock = static_cast<uint32_t>(high);
    CLList list;
    for (auto& s : idle)
        list.InsertLast(&s);
    list.InsertLast(&highSock);

    auto start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(100, &list);
    EXPECT_GE(tvtest::ElapsedMs(start), 90u);

    const char b = 'x';
    uint32_t sent = 0, zero = 0;
    ASSERT_EQ(xNonBlockedHandler(clientSock, clientUp, nullptr, zero, 0, &b, sent, 1, &cd), TRUE);
    start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(20000, &list);
    EXPECT_LT(tvtest::ElapsedMs(start), 10000u);
    close(high);
}

TEST_F(SocketTest, WaitWatchesRegisteredObjectsOnly)
{
    EXPECT_EQ(LocalClient_socket_List_Add(nullptr), FALSE);
    EXPECT_EQ(LastError(), "LocalClient_socket_List_Add:glb->localClient_socket_RegList is NULL");
    EXPECT_EQ(RemoteServer_socket_List_Remove(nullptr), FALSE);
    EXPECT_EQ(LastError(), "RemoteServer_socket_List_Remove:glb->remoteServer_socket_RegList is NULL");

    uint16_t port = Listen();
    ASSERT_TRUE(ConnectPair(port)) << LastError();
    glb->localClient_socket_RegList = XNEW(CLList);
    glb->localClients = XNEW(CLList);
    xSetWaitSocketReader(XWAIT_LOCAL_CLIENT, ReadFake);

    FakeComm listed{serverSock}, registered{serverSock};
    auto* a = reinterpret_cast<CCommLocalClient*>(&listed);
    auto* b = reinterpret_cast<CCommLocalClient*>(&registered);
    EXPECT_EQ(LocalClient_socket_List_Add(a), TRUE);
    EXPECT_EQ(LocalClient_socket_List_Add(a), TRUE);
    EXPECT_EQ(glb->localClient_socket_RegList->GetNumNodes(), 1);
    EXPECT_EQ(LocalClient_socket_List_Add(b), TRUE);
    glb->localClients->InsertLast(&registered);

    const char byte = 'x';
    uint32_t sent = 0, zero = 0;
    ASSERT_EQ(xNonBlockedHandler(clientSock, clientUp, nullptr, zero, 0, &byte, sent, 1, &cd), TRUE);
    auto start = std::chrono::steady_clock::now();
    xWaitTimeOrSockets(20000);
    EXPECT_LT(tvtest::ElapsedMs(start), 10000u);
    EXPECT_EQ(listed.calls, 0); // not a registered local client
    EXPECT_EQ(registered.calls, 1);

    EXPECT_EQ(LocalClient_socket_List_Remove(a), TRUE);
    EXPECT_EQ(LocalClient_socket_List_Remove(b), TRUE);
    EXPECT_EQ(glb->localClient_socket_RegList->GetNumNodes(), 0);
    xSetWaitSocketReader(XWAIT_LOCAL_CLIENT, nullptr);
    XDELETE(glb->localClient_socket_RegList);
    XDELETE(glb->localClients);
    glb->localClient_socket_RegList = glb->localClients = nullptr;
}

// ---------------------------------------------------------------- proxy location

TEST_F(SocketTest, ProxyLocationRecord)
{
    CProxyLocation loc;
    EXPECT_EQ(loc.HeaderOk(), TRUE);
    struct {
        const char* host;
        uint16_t port;
        int32_t ok;
    } cases[] = {
        {"host", 40000, FALSE},
        {"123456789012345678901234567890", 80, FALSE},
        {"12345678901234567890123456789", 32767, TRUE},
        {"a", 0, TRUE},
        {nullptr, 80, FALSE},
    };
    for (auto c : cases) {
        CProxyLocation l;
        EXPECT_EQ(l.SetLocation(c.host, c.port), c.ok) << (c.host ? c.host : "null");
        if (!c.ok)
            continue;
        char* host = nullptr;
        uint16_t port = 1;
        ASSERT_EQ(l.GetLocation(host, port), TRUE);
        EXPECT_STREQ(host, c.host);
        EXPECT_EQ(port, c.port);
        XFREE(host);
    }
    CProxyLocation empty;
    char* host = nullptr;
    uint16_t port = 0;
    EXPECT_EQ(empty.GetLocation(host, port), FALSE); // no host, no port text
    std::memset(static_cast<void*>(&empty), 0, sizeof empty);
    EXPECT_EQ(empty.HeaderOk(), TRUE);
    std::memcpy(empty.magic, "PLOX", 4);
    EXPECT_EQ(empty.HeaderOk(), FALSE);
}

TEST_F(SocketTest, ConnectThroughProxySendsLocationRecord)
{
    uint16_t port = Listen(); // stands in for the relay
    ASSERT_NE(port, 0);
    ASSERT_EQ(xConnectSocket("dest.example", 4000, "127.0.0.1", port, clientSock, nullptr, &cd), TRUE);
    ASSERT_TRUE(Until([&] {
        int32_t running = 1, accepted = 0;
        if (serverSock == INVALID_SOCKET)
            xNonBlockedListenHandler(listenSock, serverSock, nullptr, running, accepted, &cd);
        if (!clientUp) {
            EXPECT_EQ(
                xNonBlockedConnectHandler("dest.example", 4000, "127.0.0.1", port, clientSock, clientUp, &cd),
                TRUE);
        }
        return clientUp == 1 && serverSock != INVALID_SOCKET;
    }));
    serverUp = 1;
    CProxyLocation got;
    std::memset(static_cast<void*>(&got), 0xEE, sizeof got);
    uint32_t n = 0, zero = 0;
    ASSERT_TRUE(Until([&] {
        EXPECT_EQ(xNonBlockedHandler(serverSock, serverUp, reinterpret_cast<char*>(&got), n, 48, nullptr,
                                     zero, 0, &cd),
                  TRUE);
        return n == 48;
    }));
    EXPECT_EQ(std::memcmp(got.magic, "PLOC", 4), 0);
    char* host = nullptr;
    uint16_t p = 0;
    ASSERT_EQ(got.GetLocation(host, p), TRUE);
    EXPECT_STREQ(host, "dest.example");
    EXPECT_EQ(p, 4000);
    XFREE(host);
}

} // namespace

namespace
{

// The frame's pacing waits on the registered comm sockets when the wait mode
// is on: traffic ends the frame's wait early.
class SocketFrameTest : public tvtest::TarvexTest
{
  protected:
    SocketFrameTest() : TarvexTest(true) {}
};

TEST_F(SocketFrameTest, HandlerWaitEndsOnSocketTraffic)
{
    SCryptData cd;
    int32_t code = 0, up = 1;
    ASSERT_EQ(xStartupSockets(code, 1, &cd), TRUE);
    uint32_t listenSock = INVALID_SOCKET, a = INVALID_SOCKET, b = INVALID_SOCKET;
    sockaddr_in addr{};
    ASSERT_EQ(xStartListenSocket(0, listenSock, &addr, &cd), TRUE);
    ASSERT_EQ(xConnectSocket("127.0.0.1", ntohs(addr.sin_port), nullptr, 0, a, nullptr, &cd), TRUE);
    ASSERT_EQ(xBlockedConnectHandler("127.0.0.1", ntohs(addr.sin_port), nullptr, 0, a, up, 0, &cd), TRUE);
    ASSERT_EQ(xAcceptIncomingConnection(listenSock, b, nullptr, &cd), TRUE);
    const char byte = 'x';
    uint32_t sent = 0, zero = 0;
    ASSERT_EQ(xBlockedHandler(a, up, nullptr, zero, 0, &byte, sent, 1, &cd), TRUE);

    FakeComm comm{b};
    glb->localClient_socket_RegList = XNEW(CLList);
    glb->localClients = XNEW(CLList);
    glb->localClient_socket_RegList->InsertLast(&comm);
    glb->localClients->InsertLast(&comm);
    xSetWaitSocketReader(XWAIT_LOCAL_CLIENT, ReadFake);
    SetMinimumFrameTime(8000);
    xSetXHandlerWaitMode(1);

    auto start = std::chrono::steady_clock::now();
    xHandler();
    EXPECT_LT(tvtest::ElapsedMs(start), 4000u); // not the 8 s frame time
    EXPECT_EQ(comm.calls, 1);

    xSetWaitSocketReader(XWAIT_LOCAL_CLIENT, nullptr);
    XDELETE(glb->localClient_socket_RegList);
    XDELETE(glb->localClients);
    glb->localClient_socket_RegList = glb->localClients = nullptr;
    xCloseSocket(a);
    xCloseSocket(b);
    xCloseSocket(listenSock);
    xClosedownSockets(code, &cd);
}

} // namespace
