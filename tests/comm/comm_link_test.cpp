// Two comm objects over loopback in one process: raw packets both ways
// (small, several MB, thousands in order), the registries, the frame's
// client rounds, and peers that misbehave at the byte level.
#include "comm_util.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

using tvtest::CommTest;
using tvtest::Header;
using tvtest::InGlbList;
using tvtest::LastError;
using tvtest::Pair;
using tvtest::Pump;
using tvtest::TakeRaw;
using tvtest::Until;

namespace
{

std::string Blob(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        s[i] = static_cast<char>(seed >> 16);
    }
    return s;
}

} // namespace

TEST_F(CommTest, RawPacketsBothWaysInOrder)
{
    auto p = std::make_unique<Pair>();
    ASSERT_TRUE(p->Open()) << LastError();
    EXPECT_TRUE(InGlbList(glb->remoteClients, &p->client));
    EXPECT_TRUE(InGlbList(glb->remoteClients, &p->accepted));

    const std::string big = Blob(5u << 20, 7);
    ASSERT_EQ(p->client.SendRawData("hello", 5), TRUE) << LastError();
    ASSERT_EQ(p->client.SendRawData(big.data(), static_cast<uint32_t>(big.size())), TRUE);
    ASSERT_EQ(p->client.SendRawData(nullptr, 0), TRUE);
    const int n = 3000;
    for (int i = 0; i < n; ++i) {
        std::string s = "#" + std::to_string(i);
        ASSERT_EQ(p->accepted.SendRawData(s.data(), static_cast<uint32_t>(s.size())), TRUE);
    }
    ASSERT_TRUE(Pump([&] {
        return p->accepted.NumRecvQuePackets() == 3 && p->client.NumRecvQuePackets() == n;
    })) << LastError();
    EXPECT_EQ(TakeRaw(p->accepted), "hello");
    EXPECT_TRUE(TakeRaw(p->accepted) == big);
    EXPECT_EQ(TakeRaw(p->accepted), "");
    for (int i = 0; i < n; ++i)
        ASSERT_EQ(TakeRaw(p->client), "#" + std::to_string(i));
    EXPECT_EQ(p->client.IsFlushed(), TRUE);

    // xHandler drives the same rounds.
    p->client.SendRawData("frame", 5);
    ASSERT_TRUE(Until([&] {
        xHandler();
        return p->accepted.NumRecvQuePackets() == 1;
    }));
    EXPECT_EQ(TakeRaw(p->accepted), "frame");

    // A clean disconnect: both sides leave the registry.
    p->client.Disconnect();
    EXPECT_FALSE(InGlbList(glb->remoteClients, &p->client));
    ASSERT_TRUE(Pump([&] { return p->accepted.IsConnected() == 0; }));
    EXPECT_FALSE(InGlbList(glb->remoteClients, &p->accepted));
}

TEST_F(CommTest, ClientRefusals)
{
    CCommRemoteClient c;
    c.SetObjName("c");
    EXPECT_EQ(c.Connect(), FALSE);
    EXPECT_EQ(LastError(), "CCommRemoteClient::Connect: startupCode is zero, this object is not initialized "
                           "(classname: CCommRemoteClient objectname: c)");
    ASSERT_EQ(c.Startup(), TRUE);
    c.SetRemoteLocation("127.0.0.1", 70000);
    EXPECT_EQ(c.Connect(), FALSE);
    EXPECT_EQ(c.GetSocket(), INVALID_SOCKET);
    // Through a relay proxy only ports its location record can name are
    // reachable: the refusal comes before any socket is made.
    c.SetProxy("127.0.0.1", 9);
    c.SetRemoteLocation("127.0.0.1", 32768);
    EXPECT_EQ(c.Connect(), FALSE);
    EXPECT_EQ(LastError(), "CCommRemoteClient::Connect: the proxy cannot relay to a port above 32767 "
                           "(classname: CCommRemoteClient objectname: c)");
    EXPECT_EQ(c.GetSocket(), INVALID_SOCKET);
    c.SetProxy(nullptr, 0);
    EXPECT_EQ(c.NonBlockedHandler(), FALSE);
    EXPECT_EQ(LastError(),
              "CCommRemoteClient::NonBlockedHandler: connected is zero, this object is not connected "
              "(classname: CCommRemoteClient objectname: c)");
    c.Disconnect();
    EXPECT_EQ(LastError(),
              "CCommRemoteClient::Disconnect: connected is not TRUE, this object is not connected "
              "(classname: CCommRemoteClient objectname: c)");

    // A server without a callback rejects every connection and keeps listening.
    CCommRemoteServer s;
    s.SetPort(0);
    ASSERT_EQ(s.Startup(), TRUE);
    ASSERT_EQ(s.StartListen(), TRUE);
    ASSERT_EQ(s.NonBlockedStartListenHandler(), TRUE);
    EXPECT_EQ(s.RemoteServerRunning(), 1);
    c.SetRemoteLocation("127.0.0.1", s.GetBoundPort());
    ASSERT_EQ(c.Connect(), TRUE);
    ASSERT_TRUE(Until([&] { return c.NonBlockedConnectHandler() && c.IsConnected(); }));
    ASSERT_TRUE(Until([&] {
        s.NonBlockedHandler();
        return c.NonBlockedHandler() == FALSE; // the server closed it
    }));
    EXPECT_EQ(c.IsConnected(), 0);
    EXPECT_FALSE(InGlbList(glb->remoteClients, &c));
    EXPECT_EQ(s.RemoteServerRunning(), 1);
}

TEST_F(CommTest, SetConnectFromServerRefusesAConnectedClient)
{
    auto p = std::make_unique<Pair>();
    ASSERT_TRUE(p->Open()) << LastError();
    // A second connection while `accepted` is busy: the take-over fails and
    // the server closes the socket.
    CCommRemoteClient second;
    second.SetPacketTypes(1, 0);
    ASSERT_EQ(second.Startup(), TRUE);
    second.SetRemoteLocation("127.0.0.1", p->Port());
    ASSERT_EQ(second.Connect(), TRUE);
    ASSERT_TRUE(Until([&] {
        second.NonBlockedConnectHandler();
        p->server.NonBlockedHandler();
        return p->takeResult == FALSE;
    }));
    EXPECT_NE(LastError().find("CCommRemoteClient::SetConnectFromServer: connected is TRUE,  this object is "
                               "already connected"),
              std::string::npos);
    EXPECT_EQ(p->server.GetConnectedSocket(), INVALID_SOCKET);
    EXPECT_EQ(p->accepted.IsConnected(), 1);
}

// A plain socket that speaks bytes to `accepted`.
class CommFault : public CommTest
{
  protected:
    void SetUp() override
    {
        CommTest::SetUp();
        l = std::make_unique<tvtest::Listener>();
        ASSERT_TRUE(l->Start()) << LastError();
    }
    void TearDown() override
    {
        if (fd >= 0)
            tvtest::RawClose(fd);
        l.reset();
        CommTest::TearDown();
    }
    bool Connect()
    {
        if (fd >= 0)
            tvtest::RawClose(fd);
        fd = tvtest::RawConnect(l->Port());
        return fd >= 0 && l->Accept();
    }
    void Send(const std::string& s)
    {
        ASSERT_TRUE(tvtest::RawSend(fd, s));
    }
    // Pumps until the accepted side has dropped the connection.
    bool Dropped()
    {
        return Pump([&] { return l->accepted.IsConnected() == 0; }) &&
               !InGlbList(glb->remoteClients, &l->accepted);
    }
    std::unique_ptr<tvtest::Listener> l;
    int fd = -1;
};

TEST_F(CommFault, EachBadPeerIsDroppedAndTheObjectConnectsAgain)
{
    struct Case {
        const char* what;
        std::string bytes;
        bool close;
    };
    xSetMaxPacketSize(1u << 20);
    const Case cases[] = {
        {"closes mid-header", Header(1, 20).substr(0, 5), true},
        {"closes mid-body", Header(1, 100) + std::string(40, 'x'), true},
        {"bad magic", Header(1, 12, "PCKX"), false},
        {"oversize", Header(1, (1u << 20) + 1), false},
        {"bad type", Header(9, 12), false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        ASSERT_TRUE(Connect());
        Send(k.bytes);
        if (k.close) {
            tvtest::RawClose(fd);
            fd = -1;
        }
        ASSERT_TRUE(Dropped());
        // The same object takes the next connection and works.
        ASSERT_TRUE(Connect());
        Send(Header(1, 14) + "ok");
        ASSERT_TRUE(Pump([&] { return l->accepted.NumRecvQuePackets() == 1; }));
        EXPECT_EQ(TakeRaw(l->accepted), "ok");
        l->accepted.AckInData();
        tvtest::RawClose(fd);
        fd = -1;
        ASSERT_TRUE(Dropped());
    }
    xSetMaxPacketSize(PACKET_DEFAULT_MAX_SIZE);
}

// A peer that resets the connection right behind a packet: the packet is
// still taken in, then the reset drops the connection.
TEST_F(CommFault, APacketAheadOfAResetIsKept)
{
    ASSERT_TRUE(Connect());
    const int sock = static_cast<int>(l->accepted.GetSocket());
    Send(Header(1, 16) + "last");
    const linger abort{1, 0};
    ASSERT_EQ(setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort), 0);
    tvtest::RawClose(fd);
    fd = -1;
    // Both the bytes and the reset are there before the object looks.
    ASSERT_TRUE(Until([&] {
        pollfd p{sock, POLLIN, 0};
        return poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
    }));
    ASSERT_TRUE(Dropped());
    ASSERT_EQ(l->accepted.NumRecvQuePackets(), 1);
    EXPECT_EQ(TakeRaw(l->accepted), "last");
}

namespace
{

CCommBase* g_replier = nullptr;

int32_t ReplyPong(SXPacket*, SXPacketCNode*, int32_t& keep)
{
    keep = 1;
    return g_replier->SendRawData("pong", 4);
}

} // namespace

// A packet that ends the frame's socket wait is taken in by that frame, and
// what its receive callback sends leaves in the same frame: nothing else
// runs the rounds here after it.
TEST_F(CommFault, AReplyToAWakingPacketLeavesInTheSameFrame)
{
    ASSERT_TRUE(Connect());
    g_replier = &l->accepted;
    l->accepted.SetPacketCallbackRecv(ReplyPong);
    xHandler(); // the frame clock starts here
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(5000);
    const std::string ping = Header(1, 16) + "ping";
    pid_t pid = fork();
    if (pid == 0) {
        usleep(100 * 1000);
        _exit(tvtest::RawSend(fd, ping) ? 0 : 1);
    }
    ASSERT_GT(pid, 0);
    xHandler();
    SetMinimumFrameTime(0);
    xSetXHandlerWaitMode(0);
    l->accepted.SetPacketCallbackRecv(nullptr);
    int status = -1;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(l->accepted.NumRecvQuePackets(), 1);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 2000), 1) << "the reply did not leave in the frame";
    char buf[16] = {};
    ASSERT_EQ(read(fd, buf, 16), 16);
    EXPECT_EQ(std::string(buf, 16), Header(1, 16) + "pong");
}

TEST_F(CommTest, TransferStepDropsBadHeadersAtOnce)
{
    // The step on one end of a socket pair, fed raw bytes from the other.
    struct Case {
        std::string header;
        const char* message;
    };
    xSetMaxPacketSize(1u << 20);
    const char* invalid =
        "PacketTransferHandler:(ValidateHeader()):Function failed. This is not a valid packet, "
        "discarding it.";
    const Case cases[] = {
        {Header(1, 12, "PCKX"), invalid},
        {Header(1, (1u << 20) + 1), invalid},
        {Header(1, 11), invalid},
    };
    SCryptData cd;
    int32_t code = 0;
    ASSERT_EQ(xStartupSockets(code, 1, &cd), TRUE);
    for (const Case& k : cases) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
        ASSERT_EQ(write(sv[1], k.header.data(), k.header.size()), 12);
        uint32_t sock = static_cast<uint32_t>(sv[0]);
        int32_t connected = 1, progress = 0, rs = COMM_RECV_IDLE, ss = COMM_SEND_IDLE;
        SXPacket *rp = nullptr, *sp = nullptr;
        uint32_t rc = 0, sc = 0;
        CLList in, out;
        EXPECT_EQ(PacketTransferHandler(progress, 0, sock, connected, rp, rc, rs, sp, sc, ss, &in, &out, &cd),
                  FALSE);
        EXPECT_EQ(LastError(), k.message);
        EXPECT_EQ(connected, 0);
        EXPECT_EQ(sock, INVALID_SOCKET);
        EXPECT_EQ(in.GetNumNodes(), 0);
        if (rp != nullptr)
            xFreeMem(rp, __FILE__, __LINE__);
        close(sv[1]);
    }
    xClosedownSockets(code, &cd);
    xSetMaxPacketSize(PACKET_DEFAULT_MAX_SIZE);
}

TEST_F(CommFault, OneBytePerCallArrivesWhole)
{
    ASSERT_TRUE(Connect());
    std::string packet = Header(1, 12 + 300) + std::string(300, 'q');
    for (char ch : packet) {
        Send(std::string(1, ch));
        xCommClientRounds(1);
    }
    ASSERT_TRUE(Pump([&] { return l->accepted.NumRecvQuePackets() == 1; }));
    EXPECT_EQ(TakeRaw(l->accepted), std::string(300, 'q'));
    // And the other way: what the object sends arrives intact.
    l->accepted.SendRawData("back", 4);
    ASSERT_TRUE(Pump([&] { return l->accepted.IsFlushed() == TRUE; }));
    char buf[16] = {};
    ASSERT_EQ(read(fd, buf, 16), 16);
    EXPECT_EQ(std::string(buf, 16), Header(1, 16) + "back");
}

// A round that finds the socket empty does not read it again in the same
// frame, so what is already waiting must all come in before that: a burst
// larger than one read (the read-ahead holds 64 KB) is taken in whole by one
// frame's rounds, however the reads split it.
TEST_F(CommFault, WaitingBurstComesInWithinOneFrame)
{
    // Room on the accepted side for the whole burst before anyone reads.
    const int room = 1 << 20;
    ASSERT_EQ(setsockopt(static_cast<int>(l->server.GetListeningSocket()), SOL_SOCKET, SO_RCVBUF, &room,
                         sizeof room),
              0);
    ASSERT_TRUE(Connect());
    const uint32_t sock = l->accepted.GetSocket();
    struct Case {
        uint32_t count, payload;
    } cases[] = {{200, 1000}, {1, 70000}, {3, 65536 - 12}};
    for (const Case& c : cases) {
        std::string burst;
        for (uint32_t i = 0; i < c.count; ++i)
            burst += Header(1, 12 + c.payload) + std::string(c.payload, static_cast<char>('a' + i % 26));
        Send(burst);
        ASSERT_TRUE(Until([&] {
            int waiting = 0;
            return ioctl(static_cast<int>(sock), FIONREAD, &waiting) == 0 &&
                   static_cast<size_t>(waiting) == burst.size();
        })) << "the burst did not arrive whole (" << c.count << " x " << c.payload << ")";
        xCommClientRounds(3);
        ASSERT_EQ(l->accepted.NumRecvQuePackets(), static_cast<int32_t>(c.count)) << c.count << " x " << c.payload;
        for (uint32_t i = 0; i < c.count; ++i)
            ASSERT_EQ(TakeRaw(l->accepted), std::string(c.payload, static_cast<char>('a' + i % 26)));
    }
}

TEST_F(CommTest, TransferStepRefusesBadStates)
{
    uint32_t sock = INVALID_SOCKET;
    int32_t connected = 1, progress = -1;
    SXPacket *rp = nullptr, *sp = nullptr;
    uint32_t rc = 0, sc = 0;
    int32_t rs = 999, ss = COMM_SEND_IDLE;
    CLList in, out;
    SCryptData cd;
    int32_t code = 0;
    ASSERT_EQ(xStartupSockets(code, 1, &cd), TRUE);
    EXPECT_EQ(PacketTransferHandler(progress, 0, sock, connected, rp, rc, rs, sp, sc, ss, &in, &out, &cd),
              FALSE);
    EXPECT_EQ(LastError(), "PacketTransferHandler: recvStatus is invalid");
    EXPECT_EQ(connected, 0);
    rs = COMM_RECV_IDLE;
    ss = 7;
    EXPECT_EQ(PacketTransferHandler(progress, 0, sock, connected, rp, rc, rs, sp, sc, ss, &in, &out, &cd),
              FALSE);
    EXPECT_EQ(LastError(), "PacketTransferHandler: sendStatus is invalid");
    ss = COMM_SEND_IDLE;
    EXPECT_EQ(PacketTransferHandler(progress, 0, sock, connected, rp, rc, rs, sp, sc, ss, &in, &out, &cd),
              FALSE);
    EXPECT_EQ(LastError(), "PacketTransferHandler:Not connected");
    xClosedownSockets(code, &cd);
}

TEST_F(CommTest, RegistrationsFromAPeerAreKeptAndRouted)
{
    // Two connections in this process. A's client plays a remote peer that
    // announces a node; A's accepted side keeps it and routes the
    // registration to the other connection, whose ends keep it without
    // routing further (never route from clients).
    auto a = std::make_unique<Pair>();
    auto b = std::make_unique<Pair>();
    ASSERT_TRUE(a->Open()) << LastError();
    ASSERT_TRUE(b->Open()) << LastError();
    a->client.SetPacketTypes(1, 0);
    b->client.SetNeverRouteNode_From_Client(1);
    b->accepted.SetNeverRouteNode_From_Client(1);

    auto announce = [&](uint8_t type, const char* data = nullptr) {
        SXPacket* p = BuildPacket(type, 5, "chat", CNODE_CLIENT, 0, data,
                                  data ? static_cast<uint32_t>(std::strlen(data)) : 0);
        ASSERT_EQ(a->client.SendQueAdd(p), TRUE);
    };
    auto count = [](CCommBase& c) {
        c.OtherSideNodes_First();
        return c.OtherSideNodes_Exists() ? c.OtherSideNodes_Get()->refCount : 0;
    };
    announce(PACKET_TYPE_CNODEREG);
    announce(PACKET_TYPE_CNODEREG);
    ASSERT_TRUE(Pump([&] {
        return count(a->accepted) == 2 && count(b->client) == 2 && count(b->accepted) == 2;
    })) << LastError();
    EXPECT_EQ(a->accepted.HasOtherSideNode("chat", 4, 5, CNODE_SERVER), TRUE);

    // Node data for the announced node arrives (no node here to take it).
    announce(PACKET_TYPE_CNODE, "hello");
    ASSERT_TRUE(Pump([&] { return a->client.IsFlushed() == TRUE; }));
    ASSERT_TRUE(Pump([&] { return a->accepted.NumTransferIn() == 0; }));
    EXPECT_EQ(a->accepted.IsConnected(), 1);
    a->accepted.AckInData();

    // Unregistrations count down and are not routed.
    announce(PACKET_TYPE_CNODEUNREG);
    ASSERT_TRUE(Pump([&] { return count(a->accepted) == 1; }));
    announce(PACKET_TYPE_CNODEUNREG);
    ASSERT_TRUE(Pump([&] { return count(a->accepted) == 0; }));
    EXPECT_EQ(count(b->client), 2);
    EXPECT_EQ(a->accepted.IsConnected(), 1);
    EXPECT_EQ(b->client.IsConnected(), 1);
}
