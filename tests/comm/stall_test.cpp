// Servers that no client can stall: a TLS handshake, a relay location record
// or a packet header that arrives slowly or never costs only its own
// connection (a time-out on the library's clock), never anybody else's
// traffic. Real peers: openssl s_client, the library's own clients, raw
// sockets for the silent and the slow ones.
#include "proxy_util.h"

#include <chrono>

using tvproxy::EchoServer;
using tvproxy::RawClient;
using tvproxy::Record;
using tvtest::LastError;
using tvtest::Program;

namespace
{

constexpr int kSilent = 50;

bool HaveOpenSsl() { return std::system("command -v openssl >/dev/null 2>&1") == 0; }

uint32_t MsSince(std::chrono::steady_clock::time_point t)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count());
}

class StallTest : public tvproxy::ProxyTest
{
  protected:
    void SetUp() override
    {
        tvproxy::ProxyTest::SetUp();
        if (!HaveOpenSsl())
            GTEST_SKIP() << "openssl not installed";
        ASSERT_TRUE(tvtest::MakeTestCertificate()) << "openssl req failed";
    }
};

// A remote server whose callback gives every accepted socket a client object
// of its own.
struct Hub {
    CCommRemoteServer server;
    std::vector<std::unique_ptr<CCommRemoteClient>> accepted;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        auto* self = static_cast<Hub*>(user);
        auto c = std::make_unique<CCommRemoteClient>();
        c->SetPacketTypes(1, 1);
        c->SetObjName("accepted", static_cast<uint32_t>(self->accepted.size()));
        if (!c->Startup() || !c->SetConnectFromServer(s))
            return FALSE;
        self->accepted.push_back(std::move(c));
        return TRUE;
    }
    bool Start(bool tls)
    {
        server.SetPort(0);
        if (tls)
            server.SetEncryption(1, "key.pem", "cert.pem");
        if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
            return false;
        server.SetCallbackFunction(Take, this, 0);
        return true;
    }
    uint16_t Port() const { return server.GetBoundPort(); }
    size_t Connected() const
    {
        size_t n = 0;
        for (const auto& c : accepted)
            n += c->IsConnected() == 1 ? 1 : 0;
        return n;
    }
};

// Rounds of the server and every client until done(), without moving the
// library's clock (so no time-out can end a connection meanwhile).
template <class F> bool Rounds(Hub& hub, F done, int tries = 20000)
{
    for (int i = 0; i < tries; ++i) {
        hub.server.NonBlockedHandler();
        xCommClientRounds(1);
        if (done())
            return true;
        xWaitTimeOrSockets(1);
    }
    return false;
}

} // namespace

TEST_F(StallTest, FiftySilentTlsClientsDoNotDelayARelayedOne)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    CCommProxyServer proxy;
    ASSERT_EQ(proxy.SetIncomingEncryption(1, "key.pem", "cert.pem"), TRUE);
    ASSERT_TRUE(Start(proxy)) << LastError();

    // Fifty clients connect (a few at a time: the listen queue is short) and
    // never say a word.
    std::vector<std::unique_ptr<RawClient>> silent;
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            size_t have = static_cast<size_t>(proxy.GetConnections()->GetNumNodes());
            while (silent.size() < kSilent && silent.size() < have + 3)
                silent.push_back(std::make_unique<RawClient>(port));
            return have == kSilent;
        },
        8000, 0));

    // The good client relays at once, whatever the silent ones do.
    auto start = std::chrono::steady_clock::now();
    Program sc({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-quiet"});
    ASSERT_TRUE(sc.Write(Record("127.0.0.1", echo.port) + "past the silent ones\n"));
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            sc.Drain();
            return sc.output.find("past the silent ones\n") != std::string::npos;
        },
        20000, 0))
        << sc.output << LastError();
    EXPECT_LT(MsSince(start), 1000u);

    // Ten seconds on, the silent handshakes have timed out, each closing
    // only its own connection.
    tvp::TestAdvanceClock(10001);
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            size_t closed = 0;
            for (auto& c : silent) {
                c->Step();
                closed += c->eof ? 1 : 0;
            }
            return closed == silent.size();
        },
        4000, 0));
    ASSERT_TRUE(sc.Write("still relayed\n"));
    ASSERT_TRUE(Pump(
        proxy,
        [&] {
            sc.Drain();
            return sc.output.find("still relayed\n") != std::string::npos;
        },
        20000, 0))
        << sc.output;
}

TEST_F(StallTest, FiftySilentTlsClientsDoNotDelayACommClient)
{
    Hub hub;
    ASSERT_TRUE(hub.Start(true)) << LastError();
    std::vector<std::unique_ptr<RawClient>> silent;
    ASSERT_TRUE(Rounds(hub, [&] {
        while (silent.size() < kSilent && silent.size() < hub.accepted.size() + 3)
            silent.push_back(std::make_unique<RawClient>(hub.Port()));
        return hub.accepted.size() == kSilent;
    })) << LastError();

    auto start = std::chrono::steady_clock::now();
    CCommRemoteClient client;
    client.SetPacketTypes(1, 1);
    client.SetEncryption(1);
    ASSERT_TRUE(client.Startup() && client.SetRemoteLocation("127.0.0.1", hub.Port()) && client.Connect())
        << LastError();
    ASSERT_TRUE(Rounds(hub, [&] {
        if (client.IsConnected() == 0 && !client.NonBlockedConnectHandler())
            return true;
        return client.IsConnected() == 1 && hub.accepted.size() == kSilent + 1;
    })) << LastError();
    ASSERT_EQ(client.IsConnected(), 1) << LastError();
    CCommRemoteClient& mine = *hub.accepted.back();
    ASSERT_EQ(client.SendRawData("ping", 4), TRUE);
    std::string got;
    ASSERT_TRUE(Rounds(hub, [&] {
        if (got.empty() && mine.NumRecvQuePackets() > 0) {
            got = tvtest::TakeRaw(mine);
            mine.SendRawData("pong", 4);
        }
        return client.NumRecvQuePackets() > 0;
    })) << LastError();
    EXPECT_EQ(got, "ping");
    EXPECT_EQ(tvtest::TakeRaw(client), "pong");
    EXPECT_LT(MsSince(start), 1000u);
    EXPECT_EQ(hub.Connected(), static_cast<size_t>(kSilent + 1));

    // The silent ones time out on their own; the good pair stays.
    tvp::TestAdvanceClock(10001);
    ASSERT_TRUE(Rounds(hub, [&] { return hub.Connected() == 1; })) << LastError();
    EXPECT_EQ(mine.IsConnected(), 1);
    EXPECT_EQ(client.IsConnected(), 1);
}

TEST_F(StallTest, OneHeaderBytePerSecondCostsOnlyItsOwnConnection)
{
    Hub hub;
    ASSERT_TRUE(hub.Start(false)) << LastError();
    RawClient slow(hub.Port());
    ASSERT_TRUE(Rounds(hub, [&] { return hub.accepted.size() == 1; }));
    CCommRemoteClient client;
    client.SetPacketTypes(1, 1);
    ASSERT_TRUE(client.Startup() && client.SetRemoteLocation("127.0.0.1", hub.Port()) && client.Connect());
    ASSERT_TRUE(Rounds(hub, [&] {
        if (client.IsConnected() == 0 && !client.NonBlockedConnectHandler())
            return true;
        return client.IsConnected() == 1 && hub.accepted.size() == 2;
    })) << LastError();
    CCommRemoteClient& slowSide = *hub.accepted[0];
    CCommRemoteClient& mine = *hub.accepted[1];

    // One header byte a second (on the library's clock); a message of the
    // good client goes through within every such second.
    const std::string header = tvtest::Header(PACKET_TYPE_RAW, 16);
    int second = 0;
    for (; second < 20 && slowSide.IsConnected() == 1; ++second) {
        slow.out += header[static_cast<size_t>(second) % header.size()];
        slow.Step();
        std::string text = "second " + std::to_string(second);
        ASSERT_EQ(client.SendRawData(text.data(), static_cast<uint32_t>(text.size())), TRUE);
        ASSERT_TRUE(Rounds(hub, [&] { return mine.NumRecvQuePackets() > 0; }, 5000)) << LastError();
        EXPECT_EQ(tvtest::TakeRaw(mine), text);
        tvp::TestAdvanceClock(1000);
        Rounds(hub, [] { return true; });
    }
    // Dropped by its own time-out, well before a whole header came in.
    EXPECT_EQ(slowSide.IsConnected(), 0);
    EXPECT_GE(second, 10);
    EXPECT_LE(second, 12);
    EXPECT_EQ(mine.IsConnected(), 1);
    EXPECT_EQ(client.IsConnected(), 1);
}
