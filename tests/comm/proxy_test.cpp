// The relay proxy against real peers on loopback: a forked echo server,
// socat, our own remote client and server, openssl s_client and s_server,
// and raw clients writing hand-made location records (malformed ones too).
// The proxy runs in the test process on the manual clock, so its time-outs
// are driven by the test.
#include "proxy_util.h"

#include <openssl/ssl.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>

using tvproxy::EchoServer;
using tvproxy::Forked;
using tvproxy::Program;
using tvproxy::RawClient;
using tvproxy::Record;
using tvtest::LastError;

namespace
{

constexpr const char* kUnparsable =
    "CProxyConnection(Wait for IP/port): Unable to parse IP/port from client.\n";
constexpr const char* kOutOfRange =
    "CProxyConnection(Wait for IP/port): Port is not in acceptable range. Dropping connection\n";

std::string Bytes(size_t n, uint32_t seed)
{
    std::string s(n, '\0');
    tvproxy::StreamBlock(seed, 0, s.data(), n);
    return s;
}

bool HaveProgram(const char* name)
{
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

CProxyConnection* OnlyConnection(CCommProxyServer& proxy)
{
    CLList* list = proxy.GetConnections();
    return list->first != nullptr ? static_cast<CProxyConnection*>(list->first->data) : nullptr;
}

class ProxyTest : public tvproxy::ProxyTest
{
  protected:
    // Sends out through the proxy and pumps until the reply holds want
    // bytes (or the client ends).
    bool Exchange(CCommProxyServer& proxy, RawClient& c, size_t want, int rounds = 4000)
    {
        return Pump(
            proxy,
            [&] {
                c.Step();
                return c.in.size() >= want || c.eof;
            },
            rounds);
    }
    // Pumps until the proxy has taken `total` connections and holds none.
    bool UntilGone(CCommProxyServer& proxy, uint32_t total, RawClient* c = nullptr, int rounds = 4000,
                   uint32_t stepMs = 10)
    {
        return Pump(
            proxy,
            [&] {
                if (c != nullptr)
                    c->Step();
                return proxy.GetTotalConnections() >= total && proxy.GetConnections()->first == nullptr;
            },
            rounds, stepMs);
    }
};

// ---------------------------------------------------------------- records

TEST_F(ProxyTest, RelaysBothRecordKindsToEchoServer)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    const std::string magics[] = {"PLOC", std::string(4, '\0')};
    uint32_t total = 0;
    for (const auto& magic : magics) {
        std::string payload = Bytes(64 * 1024 + 3, total + 1);
        RawClient c(port);
        c.out = Record(magic, "127.0.0.1", std::to_string(echo.port)) + payload;
        ASSERT_TRUE(Exchange(proxy, c, payload.size())) << LastError();
        EXPECT_TRUE(c.in == payload) << "magic " << (magic[0] ? magic : "zero");
        c.Close();
        ASSERT_TRUE(UntilGone(proxy, ++total)) << LastError();
    }
    EXPECT_EQ(proxy.GetClientToServerBytes64(), 2u * (64 * 1024 + 3));
    EXPECT_EQ(proxy.GetServerToClientBytes64(), 2u * (64 * 1024 + 3));
    ASSERT_EQ(proxy.GetHistory()->GetNumNodes(), 2);
    std::string line = static_cast<const char*>(proxy.GetHistory()->last->data);
    EXPECT_EQ(
        line.rfind("client ip:127.0.0.1 server ip:127.0.0.1:" + std::to_string(echo.port) + " connecttime: ",
                   0),
        0u)
        << line;
    EXPECT_NE(line.find(" Transfeered: server->client: 65539 client->server: 65539 total: 131078.\n"),
              std::string::npos)
        << line;
}

TEST_F(ProxyTest, BadMagicGoesToFallbackOrIsDropped)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    // Any other protocol: the fallback destination receives it from its
    // first byte on.
    const std::string talk = "GET / HTTP/1.0\r\nHost: x\r\n\r\n" + Bytes(10000, 9);
    for (bool fallback : {true, false}) {
        SCOPED_TRACE(fallback ? "with fallback" : "without fallback");
        CCommProxyServer proxy;
        if (fallback) {
            ASSERT_EQ(proxy.SetOnErrorForward(1, "127.0.0.1", echo.port), TRUE);
        }
        ASSERT_TRUE(Start(proxy)) << LastError();
        RawClient c(port);
        c.out = talk;
        glb->error.Clear();
        if (fallback) {
            ASSERT_TRUE(Exchange(proxy, c, talk.size())) << LastError();
            EXPECT_TRUE(c.in == talk);
            EXPECT_STREQ(OnlyConnection(proxy)->GetServerHost(), "127.0.0.1");
        } else {
            ASSERT_TRUE(UntilGone(proxy, 1, &c)) << LastError();
            EXPECT_EQ(LastError(), kUnparsable);
            EXPECT_TRUE(Exchange(proxy, c, 1));
            EXPECT_TRUE(c.eof);
            EXPECT_EQ(c.in, "");
        }
    }
}

TEST_F(ProxyTest, MalformedRecordsAreDropped)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    const std::string p = std::to_string(echo.port);
    struct Case {
        const char* what;
        std::string record;
    } cases[] = {
        {"host without terminator", Record("PLOC", std::string(30, 'h'), p)},
        {"empty host", Record("PLOC", "", p)},
        {"port unterminated", Record("PLOC", "127.0.0.1", "123456")},
        {"port not a number", Record("PLOC", "127.0.0.1", "80x")},
        {"port signed", Record("PLOC", "127.0.0.1", "-1")},
        {"empty port", Record("PLOC", "127.0.0.1", "")},
        {"port 0", Record("PLOC", "127.0.0.1", "0")},
        {"port 65536 (would be cut to 0)", Record("PLOC", "127.0.0.1", "65536")},
        {"port above 65535 (would be cut to the echo port)",
         Record("PLOC", "127.0.0.1", std::to_string(65536u + echo.port))},
        {"bad magic", Record("PLOX", "127.0.0.1", p)},
    };
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    uint32_t total = 0;
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        RawClient c(port);
        c.out = k.record + "payload";
        glb->error.Clear();
        ASSERT_TRUE(UntilGone(proxy, ++total, &c));
        EXPECT_EQ(LastError(), kUnparsable);
        EXPECT_EQ(proxy.GetClientToServerBytes64(), 0u);
    }
    // The proxy goes on serving well-formed records.
    RawClient c(port);
    c.out = Record("PLOC", "127.0.0.1", p) + "ok";
    ASSERT_TRUE(Exchange(proxy, c, 2));
    EXPECT_EQ(c.in, "ok");
}

TEST_F(ProxyTest, PortRangesAtTheirEdges)
{
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.AddPortRange("low", 6000, 6010, 0), TRUE);
    ASSERT_EQ(proxy.AddPortRange(nullptr, 7000, 7000, 0), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    struct {
        uint32_t port;
        bool accepted;
    } cases[] = {{5999, false}, {6000, true}, {6010, true},  {6011, false},
                 {6999, false}, {7000, true}, {7001, false}, {65535, false}};
    uint32_t total = 0;
    for (auto k : cases) {
        SCOPED_TRACE(k.port);
        RawClient c(port);
        c.out = Record("127.0.0.1", k.port);
        glb->error.Clear();
        // Accepted ports get as far as connecting (nothing listens there,
        // or something does); refused ones end with the range message.
        ASSERT_TRUE(Pump(proxy, [&] {
            c.Step();
            CProxyConnection* conn = OnlyConnection(proxy);
            return proxy.GetTotalConnections() > total &&
                   (conn == nullptr || conn->GetState() >= PROXYCONN_CONNECTING);
        }));
        ++total;
        EXPECT_EQ(LastError() == kOutOfRange, !k.accepted) << LastError();
        c.Close();
        ASSERT_TRUE(UntilGone(proxy, total));
    }
}

TEST_F(ProxyTest, SilentClientTimesOutOnTheClock)
{
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = std::string("PLOC\0\0\0\0", 8); // a record cut short, then silence
    ASSERT_TRUE(Pump(proxy, [&] {
        c.Step();
        return OnlyConnection(proxy) != nullptr;
    }));
    CProxyConnection* conn = OnlyConnection(proxy);
    // Accepted at the start of the 15 s: still waiting just before they end.
    for (int i = 0; i < 20; ++i) {
        int32_t finished;
        proxy.Handler(finished);
        xWaitTimeOrSockets(1);
    }
    tvp::TestAdvanceClock(14900);
    int32_t finished;
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(OnlyConnection(proxy), conn);
    EXPECT_EQ(conn->GetState(), PROXYCONN_WAIT_LOCATION);
    tvp::TestAdvanceClock(200);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(OnlyConnection(proxy), nullptr);
    EXPECT_EQ(LastError(),
              "CProxyConnection(Wait for IP/port): Timeout, didn't receive initial remote IP/port.\n");
}

TEST_F(ProxyTest, UnansweredConnectTimesOutOnTheClock)
{
    // A destination whose accept queue is full leaves the connect pending.
    uint16_t destPort = 0;
    int dest = tvproxy::ListenOn(destPort, 0);
    ASSERT_GE(dest, 0);
    std::vector<std::unique_ptr<RawClient>> fillers;
    for (int i = 0; i < 4; ++i)
        fillers.push_back(std::make_unique<RawClient>(destPort));
    usleep(50000);
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = Record("127.0.0.1", destPort);
    ASSERT_TRUE(Pump(proxy, [&] {
        c.Step();
        CProxyConnection* conn = OnlyConnection(proxy);
        return conn != nullptr && conn->GetState() == PROXYCONN_CONNECTING;
    }));
    int32_t finished;
    for (int i = 0; i < 5; ++i) {
        proxy.Handler(finished);
        usleep(2000);
    }
    if (OnlyConnection(proxy) == nullptr || OnlyConnection(proxy)->GetState() != PROXYCONN_CONNECTING) {
        close(dest);
        GTEST_SKIP() << "the loopback connect was answered despite the full queue";
    }
    tvp::TestAdvanceClock(14000);
    proxy.Handler(finished);
    EXPECT_NE(OnlyConnection(proxy), nullptr);
    tvp::TestAdvanceClock(1200);
    proxy.Handler(finished);
    EXPECT_EQ(OnlyConnection(proxy), nullptr);
    EXPECT_EQ(LastError(),
              "CProxyConnection(Connecting to server): Timeout, wasn't able to connect to server.\n");
    close(dest);
}

// ---------------------------------------------------------------- real peers

TEST_F(ProxyTest, SocatDestinationSendsAndClosesClientGetsEverything)
{
    if (!HaveProgram("socat"))
        GTEST_SKIP() << "socat not installed";
    const std::string data = Bytes(3 * 1024 * 1024 + 77, 4);
    std::ofstream("payload.bin", std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    uint16_t destPort = tvproxy::FreePort();
    Program socat({"socat", "-d", "-d", "-u", "OPEN:payload.bin",
                   "TCP-LISTEN:" + std::to_string(destPort) + ",bind=127.0.0.1,reuseaddr"},
                  true);
    ASSERT_TRUE(socat.ReadUntil("listening on")) << socat.output;

    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = Record("127.0.0.1", destPort);
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            c.Step();
            return c.eof;
        },
        20000))
        << LastError();
    EXPECT_EQ(c.in.size(), data.size());
    EXPECT_TRUE(c.in == data);
    EXPECT_EQ(proxy.GetServerToClientBytes64(), data.size());
}

TEST_F(ProxyTest, FiftyMegabytesEachWayAtOnce)
{
    constexpr uint64_t kTotal = 50ull * 1024 * 1024;
    constexpr size_t kBlock = 65536;
    uint16_t destPort = 0;
    int listenFd = tvproxy::ListenOn(destPort);
    int hashPipe[2];
    ASSERT_EQ(pipe(hashPipe), 0);
    // The destination sends stream 2 while it takes in stream 1, then
    // reports the hash of what it took in and closes.
    Forked dest(
        [&] {
            int s = accept(listenFd, nullptr, nullptr);
            fcntl(s, F_SETFL, O_NONBLOCK);
            uint64_t sent = 0, got = 0, h = tvproxy::Fnv(nullptr, 0);
            std::vector<char> out(kBlock), in(kBlock);
            size_t outUsed = kBlock;
            while (sent < kTotal || got < kTotal) {
                pollfd p{s, static_cast<short>(POLLIN | (sent < kTotal ? POLLOUT : 0)), 0};
                poll(&p, 1, 1000);
                if (sent < kTotal) {
                    if (outUsed == kBlock) {
                        tvproxy::StreamBlock(2, sent / kBlock, out.data(), kBlock);
                        outUsed = 0;
                    }
                    ssize_t n = write(s, out.data() + outUsed, kBlock - outUsed);
                    if (n > 0) {
                        outUsed += static_cast<size_t>(n);
                        sent += static_cast<uint64_t>(n);
                    }
                }
                ssize_t n = read(s, in.data(), kBlock);
                if (n > 0) {
                    h = tvproxy::Fnv(in.data(), static_cast<size_t>(n), h);
                    got += static_cast<uint64_t>(n);
                } else if (n == 0)
                    _exit(4);
            }
            (void)!write(hashPipe[1], &h, sizeof h);
            close(s);
        },
        {listenFd, hashPipe[1]});
    close(listenFd);
    close(hashPipe[1]);

    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    int fd = tvproxy::DialNonBlocking(port);
    std::string record = Record("127.0.0.1", destPort);
    ASSERT_TRUE(tvtest::Until([&] { return send(fd, record.data(), record.size(), MSG_NOSIGNAL) == 48; }));

    fcntl(hashPipe[0], F_SETFL, O_NONBLOCK);
    uint64_t destHash = 0;
    bool haveHash = false;
    uint64_t sent = 0, got = 0, hashIn = tvproxy::Fnv(nullptr, 0);
    // kTotal is a whole number of blocks.
    static_assert(kTotal % kBlock == 0);
    std::vector<char> out(kBlock), in(kBlock);
    size_t outUsed = kBlock;
    bool eof = false;
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            for (int i = 0; i < 2 && sent < kTotal; ++i) {
                if (outUsed == kBlock) {
                    tvproxy::StreamBlock(1, sent / kBlock, out.data(), kBlock);
                    outUsed = 0;
                }
                ssize_t n = send(fd, out.data() + outUsed, kBlock - outUsed, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                outUsed += static_cast<size_t>(n);
                sent += static_cast<uint64_t>(n);
            }
            ssize_t n;
            while ((n = recv(fd, in.data(), kBlock, 0)) > 0) {
                hashIn = tvproxy::Fnv(in.data(), static_cast<size_t>(n), hashIn);
                got += static_cast<uint64_t>(n);
            }
            eof = n == 0;
            // The destination reports once it has taken in everything.
            if (!haveHash && read(hashPipe[0], &destHash, sizeof destHash) == sizeof destHash)
                haveHash = true;
            return eof || (got == kTotal && sent == kTotal && haveHash);
        },
        400000, 1))
        << LastError();
    close(fd);
    close(hashPipe[0]);

    // What each side should have seen.
    uint64_t want1 = tvproxy::Fnv(nullptr, 0), want2 = want1;
    for (uint64_t i = 0; i < kTotal / kBlock; ++i) {
        tvproxy::StreamBlock(1, i, out.data(), kBlock);
        want1 = tvproxy::Fnv(out.data(), kBlock, want1);
        tvproxy::StreamBlock(2, i, out.data(), kBlock);
        want2 = tvproxy::Fnv(out.data(), kBlock, want2);
    }
    EXPECT_TRUE(haveHash);
    EXPECT_EQ(dest.Wait(), 0);
    EXPECT_EQ(sent, kTotal);
    EXPECT_EQ(got, kTotal);
    EXPECT_EQ(destHash, want1);
    EXPECT_EQ(hashIn, want2);
    EXPECT_EQ(proxy.GetClientToServerBytes64(), kTotal);
    EXPECT_EQ(proxy.GetServerToClientBytes64(), kTotal);
}

TEST_F(ProxyTest, DestinationThatNeverReadsKeepsMemoryBounded)
{
    uint16_t destPort = 0;
    int listenFd = tvproxy::ListenOn(destPort);
    Forked dest(
        [&] {
            int s = accept(listenFd, nullptr, nullptr);
            (void)s;
            pause();
        },
        {listenFd});
    close(listenFd);

    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = Record("127.0.0.1", destPort) + Bytes(40 * 1024 * 1024, 5);
    ASSERT_TRUE(Pump(proxy, [&] {
        c.Step();
        CProxyConnection* conn = OnlyConnection(proxy);
        return conn != nullptr && conn->GetState() == PROXYCONN_ROUTING;
    }));
    const uint32_t base = glb->memory->GetBytesAlloc();
    uint32_t maxQueued = 0, maxMemory = 0;
    size_t lastSent = 0;
    int still = 0;
    // Until the client has been unable to write for a good while.
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            c.Step();
            CProxyConnection* conn = OnlyConnection(proxy);
            maxQueued = std::max(maxQueued, conn->GetQueuedForServer());
            maxMemory = std::max(maxMemory, glb->memory->GetBytesAlloc() - base);
            still = c.sent == lastSent ? still + 1 : 0;
            lastSent = c.sent;
            return still > 300;
        },
        100000, 1));
    EXPECT_LT(c.sent, c.out.size()) << "the destination took everything";
    EXPECT_GT(maxQueued, PROXY_QUEUE_LIMIT);
    EXPECT_LE(maxQueued, PROXY_QUEUE_LIMIT + PROXY_CHUNK_SIZE);
    EXPECT_LE(maxMemory, PROXY_QUEUE_LIMIT + 4 * PROXY_CHUNK_SIZE + 8192);

    // The destination goes away: the connection ends and frees its queue.
    dest.Stop();
    c.Close();
    ASSERT_TRUE(UntilGone(proxy, 1));
    EXPECT_LE(glb->memory->GetBytesAlloc(), base);
}

TEST_F(ProxyTest, DrainToClientThatStopsReadingIsBounded)
{
    // The destination sends more than the small socket buffers on the way
    // to the client hold, then closes; the client reads nothing.
    uint16_t destPort = 0;
    int listenFd = tvproxy::ListenOn(destPort);
    const std::string data = Bytes(200 * 1024, 6);
    Forked dest(
        [&] {
            int s = accept(listenFd, nullptr, nullptr);
            size_t off = 0;
            while (off < data.size()) {
                ssize_t n = write(s, data.data() + off, data.size() - off);
                if (n <= 0)
                    _exit(2);
                off += static_cast<size_t>(n);
            }
            close(s);
        },
        {listenFd});
    close(listenFd);

    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    int fd = tvproxy::DialNonBlocking(port, 4096);
    std::string record = Record("127.0.0.1", destPort);
    ASSERT_TRUE(tvtest::Until([&] { return send(fd, record.data(), record.size(), MSG_NOSIGNAL) == 48; }));
    ASSERT_TRUE(Pump(proxy, [&] { return OnlyConnection(proxy) != nullptr; }));
    int small = 4096;
    setsockopt(static_cast<int>(*OnlyConnection(proxy)->GetClientSocketPtr()), SOL_SOCKET, SO_SNDBUF, &small,
               sizeof small);
    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    // The destination's end is seen; bytes are still queued for the client.
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            CProxyConnection* conn = OnlyConnection(proxy);
            return tvtest::Trace().find("Server closed the connection") != std::string::npos &&
                   conn->GetQueuedForClient() > 0;
        },
        20000, 1));
    // Within the drain limit it waits; past it, the connection ends anyway.
    ASSERT_TRUE(Pump(
                    proxy, [] { return false; }, 10, 2800) == false);
    ASSERT_NE(OnlyConnection(proxy), nullptr);
    EXPECT_EQ(OnlyConnection(proxy)->GetState(), PROXYCONN_ROUTING);
    ASSERT_TRUE(UntilGone(proxy, 1, nullptr, 200, 500));
    xSetDprintfOutput(nullptr);
    EXPECT_NE(tvtest::Trace().find("Gave up delivering"), std::string::npos) << tvtest::Trace();
    close(fd);
}

TEST_F(ProxyTest, OwnRemoteClientAndServerThroughProxy)
{
    // Our client names its destination with a record, whose port must be
    // below 32768.
    uint16_t serverPort = tvproxy::LowFreePort();
    ASSERT_NE(serverPort, 0);
    auto l = std::make_unique<tvtest::Listener>();
    l->server.SetPort(serverPort);
    ASSERT_TRUE(l->server.Startup() && l->server.StartListen() && l->server.NonBlockedStartListenHandler())
        << LastError();
    l->server.SetCallbackFunction(tvtest::Listener::Take, l.get(), 0);
    l->accepted.SetPacketTypes(1, 1);
    l->accepted.SetObjName("accepted");
    ASSERT_EQ(l->accepted.Startup(), TRUE);

    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    CCommRemoteClient client;
    client.SetPacketTypes(1, 1);
    client.SetObjName("client");
    ASSERT_EQ(client.Startup(), TRUE);
    ASSERT_EQ(client.SetRemoteLocation("127.0.0.1", serverPort), TRUE);
    ASSERT_EQ(client.SetProxy("127.0.0.1", port), TRUE);
    ASSERT_EQ(client.Connect(), TRUE) << LastError();
    ASSERT_TRUE(Pump(proxy, [&] {
        if (!client.IsConnected()) {
            EXPECT_EQ(client.NonBlockedConnectHandler(), TRUE) << LastError();
        }
        l->server.NonBlockedHandler();
        return client.IsConnected() == 1 && l->accepted.IsConnected() == 1;
    })) << LastError();

    std::string big = Bytes(300000, 7);
    ASSERT_EQ(client.SendRawData("hello through the relay", 23), TRUE);
    ASSERT_EQ(l->accepted.SendRawData(big.data(), static_cast<uint32_t>(big.size())), TRUE);
    std::string atServer, atClient;
    ASSERT_TRUE(Pump(proxy, [&] {
        xCommClientRounds(1);
        if (atServer.empty()) {
            std::string s = tvtest::TakeRaw(l->accepted);
            if (s != "<none>")
                atServer = s;
        }
        if (atClient.empty()) {
            std::string s = tvtest::TakeRaw(client);
            if (s != "<none>")
                atClient = s;
        }
        return !atServer.empty() && !atClient.empty();
    })) << LastError();
    EXPECT_EQ(atServer, "hello through the relay");
    EXPECT_TRUE(atClient == big);
    client.Disconnect();
    l->accepted.Disconnect();
    ASSERT_TRUE(UntilGone(proxy, 1));
}

// ---------------------------------------------------------------- TLS

class ProxyTlsTest : public ProxyTest
{
  protected:
    void SetUp() override
    {
        ProxyTest::SetUp();
        if (!HaveProgram("openssl"))
            GTEST_SKIP() << "openssl not installed";
        ASSERT_TRUE(tvtest::MakeTestCertificate()) << "openssl req failed";
    }
};

TEST_F(ProxyTlsTest, IncomingTlsFromOpenSslClient)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetIncomingEncryption(1, "key.pem", "cert.pem"), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();

    // A client that speaks no TLS fails its handshake: that connection is
    // dropped, not served in the clear, and the server goes on.
    RawClient plain(port);
    plain.out = Record("127.0.0.1", echo.port) + "in the clear";
    plain.Step();
    usleep(20000);
    ASSERT_TRUE(Pump(proxy, [&] {
        plain.Step();
        return proxy.GetTotalConnections() == 1;
    }));
    ASSERT_TRUE(Pump(proxy, [&] { return OnlyConnection(proxy) == nullptr; }));
    EXPECT_EQ(LastError(),
              "CProxyConnection(Wait for IP/port): Lost connection to client (xBlockedHandler returned FALSE).\n");
    EXPECT_EQ(proxy.GetClientToServerBytes64(), 0u);

    Program sc({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-quiet"});
    ASSERT_TRUE(Pump(proxy, [&] { return OnlyConnection(proxy) != nullptr; })) << LastError();
    ASSERT_TRUE(sc.Write(Record("127.0.0.1", echo.port) + "hello through tls\n"));
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            sc.Drain();
            return sc.output.find("hello through tls\n") != std::string::npos;
        },
        20000))
        << sc.output << LastError();
    EXPECT_EQ(proxy.GetClientToServerBytes64(), 18u);
}

// Behind a balancer the address header comes first, in the clear, and the
// client's TLS after it: a client that speaks TLS right after the header.
TEST_F(ProxyTlsTest, AddressHeaderThenIncomingTls)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetIncomingEncryption(1, "key.pem", "cert.pem"), TRUE);
    ASSERT_EQ(proxy.SetProxyProtocol(1), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    const uint16_t proxyPort = port, echoPort = echo.port;
    Forked client([proxyPort, echoPort] {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(proxyPort);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string header = "PROXY TCP4 192.0.2.44 127.0.0.1 5555 443\r\n";
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            write(fd, header.data(), header.size()) != static_cast<ssize_t>(header.size()))
            _exit(2);
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_connect(ssl) != 1)
            _exit(3);
        const std::string out = Record("127.0.0.1", echoPort) + "over tls";
        if (SSL_write(ssl, out.data(), static_cast<int>(out.size())) != static_cast<int>(out.size()))
            _exit(4);
        std::string in;
        char buf[64];
        while (in.size() < 8) {
            int n = SSL_read(ssl, buf, sizeof buf);
            if (n <= 0)
                _exit(5);
            in.append(buf, static_cast<size_t>(n));
        }
        _exit(in == "over tls" ? 0 : 6);
    });
    int status = -1;
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            int st = 0;
            if (waitpid(client.pid, &st, WNOHANG) != client.pid)
                return false;
            client.pid = -1;
            status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            return true;
        },
        20000))
        << LastError();
    EXPECT_EQ(status, 0) << LastError();
    ASSERT_TRUE(Pump(proxy, [&] { return proxy.GetHistory()->last != nullptr; }, 400, 100)) << LastError();
    std::string line = static_cast<const char*>(proxy.GetHistory()->last->data);
    EXPECT_EQ(line.rfind("client ip:192.0.2.44 ", 0), 0u) << line;
}

TEST_F(ProxyTlsTest, OutgoingTlsToOpenSslServer)
{
    uint16_t destPort = tvproxy::FreePort();
    Program ss({"openssl", "s_server", "-accept", std::to_string(destPort), "-cert", "cert.pem", "-key",
                "key.pem", "-rev"});
    ASSERT_TRUE(ss.ReadUntil("ACCEPT")) << ss.output;
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetOutgoingEncryption(1), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = Record("127.0.0.1", destPort) + "hello tarvex\n";
    ASSERT_TRUE(Pump(proxy, [&] {
        c.Step();
        return c.in.find("xevrat olleh") != std::string::npos || c.eof;
    })) << LastError();
    EXPECT_NE(c.in.find("xevrat olleh"), std::string::npos) << c.in;
}

// ---------------------------------------------------------------- behind a load balancer

// A binary address header (command byte, family byte, address block).
std::string BinaryHeader(uint8_t command, uint8_t family, const std::string& block)
{
    return std::string("\r\n\r\n\0\r\nQUIT\n", 12) + static_cast<char>(command) + static_cast<char>(family) +
           static_cast<char>(block.size() >> 8) + static_cast<char>(block.size() & 0xFF) + block;
}

// Header kinds: who the history names, the header sent whole or a byte a
// round, and the location record arriving in the same write or later.
TEST_F(ProxyTest, AddressHeaderNamesTheRealClient)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    const std::string v6Block = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x07" +
                                std::string(15, '\0') + "\x01" + std::string("\x9c\x40\x01\xbb", 4);
    struct Case {
        const char* what;
        std::string header;
        const char* client;
    };
    const Case cases[] = {
        {"text IPv4", "PROXY TCP4 203.0.113.7 127.0.0.1 40000 443\r\n", "203.0.113.7"},
        {"text IPv6", "PROXY TCP6 2001:db8::9 ::1 40000 443\r\n", "2001:db8::9"},
        {"binary IPv4",
         BinaryHeader(0x21, 0x11, std::string("\xc6\x33\x64\x05\x7f\x00\x00\x01\x9c\x40\x01\xbb", 12)),
         "198.51.100.5"},
        {"binary IPv6", BinaryHeader(0x21, 0x21, v6Block), "2001:db8::7"},
        {"binary local (a health check's)", BinaryHeader(0x20, 0x00, ""), "127.0.0.1"},
        {"text unknown", "PROXY UNKNOWN\r\n", "127.0.0.1"},
    };
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetProxyProtocol(1), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    uint32_t total = 0;
    for (const Case& c : cases) {
        for (bool dribble : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (dribble ? ", a byte a round" : ", at once"));
            std::string payload = Bytes(5000, total + 1);
            RawClient client(port);
            if (dribble) {
                for (size_t i = 0; i < c.header.size(); ++i) {
                    client.out += c.header[i];
                    ASSERT_FALSE(Pump(proxy, [&] {
                        client.Step();
                        return client.eof;
                    }, 2));
                }
            } else {
                client.out = c.header;
            }
            client.out += Record("127.0.0.1", echo.port) + payload;
            ASSERT_TRUE(Exchange(proxy, client, payload.size())) << LastError();
            EXPECT_TRUE(client.in == payload);
            client.Close();
            ASSERT_TRUE(UntilGone(proxy, ++total, nullptr, 400, 100)) << LastError();
            std::string line = static_cast<const char*>(proxy.GetHistory()->last->data);
            std::string start = std::string("client ip:") + c.client + " server ip:127.0.0.1:";
            EXPECT_EQ(line.rfind(start, 0), 0u) << line;
            // The header is the balancer's, not the client's traffic.
            EXPECT_NE(line.find(" client->server: 5000 "), std::string::npos) << line;
        }
    }
}

// With the header required, a client without one is closed and one that
// stops half-way is closed on the location time-out; neither holds up a
// client that sends a good header meanwhile.
TEST_F(ProxyTest, AddressHeaderRequiredMissingOrLateClosesThatConnectionAlone)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetProxyProtocol(1), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();

    RawClient bare(port);
    bare.out = Record("127.0.0.1", echo.port) + "no header";
    ASSERT_TRUE(UntilGone(proxy, 1, &bare)) << LastError();
    EXPECT_EQ(LastError(),
              "CProxyConnection(Wait for header): Not a valid PROXY protocol header. Dropping connection.\n");
    EXPECT_TRUE(Exchange(proxy, bare, 1));
    EXPECT_TRUE(bare.eof);
    EXPECT_EQ(bare.in, "");

    RawClient stalled(port);
    stalled.out = "PROXY TCP4 10.0.0.1 10.0.";
    ASSERT_TRUE(Pump(proxy, [&] {
        stalled.Step();
        return OnlyConnection(proxy) != nullptr;
    }));
    CProxyConnection* waiting = OnlyConnection(proxy);
    RawClient good(port);
    good.out = "PROXY TCP4 10.0.0.2 127.0.0.1 1 2\r\n" + Record("127.0.0.1", echo.port) + "served";
    ASSERT_TRUE(Exchange(proxy, good, 6, 1000)) << LastError();
    EXPECT_EQ(good.in, "served");
    EXPECT_EQ(waiting->GetState(), PROXYCONN_WAIT_HEADER);
    EXPECT_EQ(proxy.GetClientToServerBytes64(), 6u);

    tvp::TestAdvanceClock(15100);
    ASSERT_TRUE(Pump(proxy, [&] {
        stalled.Step();
        return stalled.eof;
    })) << LastError();
    EXPECT_EQ(good.in, "served");
    good.out += " still";
    ASSERT_TRUE(Exchange(proxy, good, 12)) << LastError();
    EXPECT_EQ(good.in, "served still");
}

// Off (the default), a header is never trusted: its bytes are the client's,
// here passed on whole to the fallback destination.
TEST_F(ProxyTest, AddressHeaderWhenOffIsClientData)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    EXPECT_EQ(proxy.GetProxyProtocol(), 0);
    ASSERT_EQ(proxy.SetOnErrorForward(1, "127.0.0.1", echo.port), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    const std::string talk =
        "PROXY TCP4 203.0.113.7 127.0.0.1 40000 443\r\n" + Record("127.0.0.1", echo.port);
    RawClient c(port);
    c.out = talk;
    ASSERT_TRUE(Exchange(proxy, c, talk.size())) << LastError();
    EXPECT_TRUE(c.in == talk);
    EXPECT_STREQ(OnlyConnection(proxy)->GetClientIp(), "127.0.0.1");
}

// ---------------------------------------------------------------- history, statistics, listener

TEST_F(ProxyTest, HistoryOfTwentyFiveConnections)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetHistoryLogFile("logs/history.txt"), TRUE);
    ASSERT_EQ(proxy.SetLogFile("logs/stats.txt"), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();
    for (uint32_t i = 1; i <= 25; ++i) {
        RawClient c(port);
        std::string text = "connection " + std::to_string(i);
        c.out = Record("127.0.0.1", echo.port) + text;
        ASSERT_TRUE(Exchange(proxy, c, text.size())) << i;
        EXPECT_EQ(c.in, text);
        c.Close();
        ASSERT_TRUE(UntilGone(proxy, i, nullptr, 400, 100)) << i;
    }
    CLList* history = proxy.GetHistory();
    ASSERT_EQ(history->GetNumNodes(), 20);
    // The oldest five are gone from memory; the file keeps all.
    std::ifstream file("logs/history.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[0].rfind("client ip:127.0.0.1 server ip:127.0.0.1:" + std::to_string(echo.port), 0), 0u);
    EXPECT_NE(lines[24].find("client->server: 13 total: 26."), std::string::npos) << lines[24];
    EXPECT_EQ(lines[5] + "\n", static_cast<const char*>(history->first->data));
    EXPECT_EQ(lines[24] + "\n", static_cast<const char*>(history->last->data));

    // The statistics file is rewritten every 15 s.
    tvp::TestAdvanceClock(16000);
    int32_t finished;
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    std::stringstream stats;
    stats << std::ifstream("logs/stats.txt").rdbuf();
    EXPECT_EQ(stats.str(),
              "Proxyserver statistics.\n\n\nNumber of connections: 0\n\nTotal number of connections: "
              "25\nTotal number of bytes transfeered from server to client: 316\nTotal number of "
              "bytes transfeered from client to server: 316\nTotal number of bytes transfeered: 632.\n");
}

TEST_F(ProxyTest, RunningOutOfDescriptorsDoesNotCountAsListenerFailure)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    RawClient c(port);
    c.out = Record("127.0.0.1", echo.port) + "after the shortage";
    c.Step();
    usleep(20000);

    int lowest = dup(0);
    close(lowest);
    rlimit old{};
    getrlimit(RLIMIT_NOFILE, &old);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    for (int i = 0; i < 50; ++i) {
        int32_t finished;
        EXPECT_EQ(proxy.Handler(finished), TRUE);
        tvp::TestAdvanceClock(100);
    }
    int32_t failures = proxy.GetFailureCount(), restart = proxy.InRestart();
    uint32_t taken = proxy.GetTotalConnections();
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(restart, 0);
    EXPECT_EQ(taken, 0u);
    // Descriptors again: the waiting client is served.
    ASSERT_TRUE(Exchange(proxy, c, 18)) << LastError();
    EXPECT_EQ(c.in, "after the shortage");
    EXPECT_EQ(proxy.GetFailureCount(), 0);
}

TEST_F(ProxyTest, ListenerRestartsOnItsPortAndGivesUpAfterFortyFailures)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_TRUE(Start(proxy)) << LastError();
    const uint16_t bound = port;
    int32_t finished = 0;
    // The listener stops listening under the proxy: accepting fails.
    ASSERT_EQ(shutdown(static_cast<int>(*proxy.GetListeningSocketPtr()), SHUT_RD), 0);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(LastError(),
              "CCommProxyServer::ListenHandler: xNonBlockedListenHandler returned FALSE. Waiting a "
              "while before retrying.");
    EXPECT_EQ(proxy.GetFailureCount(), 1);
    EXPECT_EQ(proxy.InRestart(), 1);
    tvp::TestAdvanceClock(29900);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(proxy.InRestart(), 1);
    tvp::TestAdvanceClock(200);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(proxy.InRestart(), 0);
    EXPECT_EQ(proxy.GetBoundPort(), bound);
    RawClient c(bound);
    c.out = Record("127.0.0.1", echo.port) + "after the restart";
    ASSERT_TRUE(Exchange(proxy, c, 17)) << LastError();
    EXPECT_EQ(c.in, "after the restart");
    // Thirty quiet minutes forget the failure.
    tvp::TestAdvanceClock(1800001);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(proxy.GetFailureCount(), 0);

    // Now the port is taken while the proxy waits to restart: every attempt
    // fails, and after more than 40 the server gives up.
    ASSERT_EQ(shutdown(static_cast<int>(*proxy.GetListeningSocketPtr()), SHUT_RD), 0);
    ASSERT_EQ(proxy.Handler(finished), TRUE);
    uint16_t same = bound;
    int squatter = tvproxy::ListenOn(same, 1);
    ASSERT_GE(squatter, 0) << "port not free for the squatter";
    int attempts = 0;
    int32_t result = TRUE;
    while (result == TRUE && attempts < 100) {
        tvp::TestAdvanceClock(30001);
        result = proxy.Handler(finished);
        ++attempts;
    }
    close(squatter);
    EXPECT_EQ(result, FALSE);
    EXPECT_EQ(attempts, 41);
    EXPECT_EQ(LastError(), "CCommProxyServer::ListenHandler returned FALSE, quit.");
}

TEST_F(ProxyTest, StartupSummaryAndSettings)
{
    CCommProxyServer proxy;
    EXPECT_EQ(proxy.Closedown(), FALSE);
    EXPECT_EQ(LastError(),
              "CCommProxyServer::Closedown: startupCode is zero, the object is not initialized.");
    EXPECT_EQ(proxy.SetOnErrorForward(1, nullptr, 80), FALSE);
    EXPECT_EQ(LastError(),
              "CCommProxyServer::SetOnErrorForward: onErrorForwardFlag is TRUE but the ipIn is false.");
    EXPECT_EQ(proxy.SetIncomingEncryption(1, "key.pem", nullptr), FALSE);
    EXPECT_EQ(LastError(), "CCommProxyServer::SetIncomingEncryption: Input parameters is incorrect.");
    ASSERT_EQ(proxy.SetName("relay"), TRUE);
    ASSERT_EQ(proxy.AddPortRange("web", 80, 80, 0), TRUE);
    ASSERT_EQ(proxy.AddPortRange("game", 6000, 6010, 0), TRUE);

    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    ASSERT_TRUE(Start(proxy)) << LastError();
    xSetDprintfOutput(nullptr);
    EXPECT_NE(
        tvtest::Trace().find(
            "\n-ProxyServer\n-\nStartup parameters\n\tname: relay\n\tlistenport: " + std::to_string(port) +
            "\n\tcreating new processes: 0\n\tlogfile: \n\thistorylogfile: \n\tencrypt "
            "incoming: No\n\tencrypt outgoing: No\n\tport range: Accepts outgoing connects "
            "on [port 80 to port 80] [port 6000 to port 6010].\n"),
        std::string::npos)
        << tvtest::Trace();
    EXPECT_TRUE(tvtest::InGlbList(glb->proxyServRegList, &proxy));
    EXPECT_EQ(proxy.Closedown(), TRUE);
    EXPECT_EQ(proxy.IsListening(), FALSE);
    int32_t finished = 0;
    EXPECT_EQ(proxy.Handler(finished), TRUE);
    EXPECT_EQ(finished, 1);
}

TEST(ProxyListsTest, RegistrationNeedsTheCommLists)
{
    tvtest::Globals g; // no CommBaseStartup: the lists do not exist
    ASSERT_TRUE(g.ok);
    struct {
        int32_t (*call)();
        const char* text;
    } cases[] = {
        {[] { return ProxyConnection_Add(nullptr); }, "ProxyConnection_Add:glb->proxyConnRegList is NULL"},
        {[] { return ProxyConnection_Remove(nullptr); },
         "ProxyConnection_Remove:glb->proxyConnRegList is NULL"},
        {[] { return ProxyServer_Add(nullptr); }, "ProxyServer_Add:glb->proxyServRegList is NULL"},
        {[] { return ProxyServer_Remove(nullptr); }, "ProxyServer_Remove:glb->proxyServRegList is NULL"},
    };
    for (auto k : cases) {
        EXPECT_EQ(k.call(), FALSE);
        EXPECT_EQ(LastError(), k.text);
    }
    EXPECT_EQ(g.Finish(), "");
}

TEST(ProxyDataTest, TypesAndCopies)
{
    tvtest::Globals g;
    ASSERT_TRUE(g.ok);
    {
        CProxyData d;
        char* host = nullptr;
        uint16_t p = 0;
        char* data = nullptr;
        uint32_t n = 0;
        EXPECT_EQ(d.GetTypeData(data, n), FALSE);
        ASSERT_EQ(d.SetTypeConnect("example", 8080), TRUE);
        EXPECT_EQ(d.GetDataType(), PROXYDATA_CONNECT);
        EXPECT_EQ(d.GetTypeData(data, n), FALSE);
        ASSERT_EQ(d.GetTypeConnect(host, p), TRUE);
        EXPECT_STREQ(host, "example");
        EXPECT_EQ(p, 8080);
        XFREE(host);
        ASSERT_EQ(d.SetTypeData("ab\0c", 4), TRUE);
        EXPECT_EQ(d.GetTypeConnect(host, p), FALSE);
        ASSERT_EQ(d.GetTypeData(data, n), TRUE);
        EXPECT_EQ(std::string(data, n), std::string("ab\0c", 4));
        EXPECT_NE(data, d.data); // a copy
        XFREE(data);
        ASSERT_EQ(d.SetTypeDisconnect(), TRUE);
        EXPECT_EQ(d.GetDataType(), PROXYDATA_DISCONNECT);
        EXPECT_EQ(d.GetTypeData(data, n), FALSE);
    }
    EXPECT_EQ(g.Finish(), "");
}

} // namespace
