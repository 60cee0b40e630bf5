// Comm traffic over a bad link (tests/support/netns_util.h): a network
// namespace joined to this one by a veth pair, impaired with tc on both
// ends. Each row of the table is one impairment: clean, delay with jitter,
// 3 % loss, delay with loss and reordering, a bandwidth cap, the cap with
// loss, and a 5 s cut of the link. Over it:
//  - node messaging: a forked peer inside the namespace runs a remote comm
//    server with a node that answers every message; this side's node sends
//    numbered messages one after the other. Every message must come back
//    once and in order, or the connection must report its loss;
//  - the clock-difference service between this process and the peer: the
//    learned offset lies within the measured round trip (both read the same
//    clock);
//  - the relay proxy on this side, an echo server inside the namespace:
//    what comes back is byte for byte what was sent (by hash).
// Prints messages per second, round trips and bytes per second per row next
// to the clean link. Needs root (CAP_NET_ADMIN): skipped otherwise; rows
// that the kernel cannot make are skipped with a note.
#include "proxy_util.h"
#include "../support/comm_helpers.h"
#include "../support/netns_util.h"

#include <tarvex/commnode.h>
#include <tarvex/timediff.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>

using tvproxy::Forked;
using tvtest::Impairment;
using tvtest::LastError;
using tvtest::NetLink;

namespace
{

using Clock = std::chrono::steady_clock;

uint32_t MsSince(Clock::time_point t)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

struct Row {
    const char* name;
    Impairment impairment;
    uint32_t ms;         // how long messages are exchanged
    uint32_t cutAfterMs; // 0: no cut; else the link is cut for 5 s from then
};

const std::vector<Row>& Rows()
{
    static const std::vector<Row> rows = {
        {"clean", {}, 1000, 0},
        {"delay 50ms+-20ms (reordering)", {"netem delay 50ms 20ms distribution normal", 0, ""}, 2000, 0},
        {"loss 3%", {"netem loss 3%", 3, ""}, 2000, 0},
        {"delay+loss+reorder", {"netem delay 50ms 20ms loss 3% reorder 25% 50%", 0, ""}, 2000, 0},
        {"rate 1mbit", {"", 0, "tbf rate 1mbit burst 16kbit latency 200ms"}, 1000, 0},
        {"rate 1mbit + loss 3%", {"", 3, "tbf rate 1mbit burst 16kbit latency 200ms"}, 1500, 0},
        {"link cut 5 s", {}, 6000, 500},
    };
    return rows;
}

constexpr uint32_t kNodeId = 26;
constexpr uint32_t kClockId = 77;
constexpr uint16_t kEchoPort = 27300; // inside the namespace nothing else listens

using tvhelp::TakeMessage;

void StartClockNode(CTimeDiffNode& n)
{
    n.SetId(kClockId);
    n.SetName("clock");
    if (!n.Init(0))
        _exit(5);
}

// The peer: a remote server in the namespace whose node answers each message
// with the same bytes, and a clock-difference server that is made anew after
// each measurement. Runs until killed.
[[noreturn]] void Answer(const NetLink& link, uint16_t port)
{
    if (!link.Enter())
        _exit(3);
    CCommNode node;
    node.SetId(kNodeId);
    node.SetName("netem");
    node.SetInAckMode(FALSE);
    node.SetOutAckMode(FALSE);
    node.InitCommNode(CNODE_SERVER);
    auto clock = std::make_unique<CTimeDiffServer>();
    StartClockNode(*clock);
    std::vector<std::unique_ptr<CCommRemoteClient>> conns;
    CCommRemoteServer server;
    server.SetPort(port);
    server.SetCallbackFunction(
        [](CCommRemoteServerBase* s, void* user, int32_t) -> int32_t {
            auto* list = static_cast<std::vector<std::unique_ptr<CCommRemoteClient>>*>(user);
            auto c = std::make_unique<CCommRemoteClient>();
            c->SetPacketTypes(0, 1);
            if (!c->Startup() || !c->SetConnectFromServer(s))
                return FALSE;
            list->push_back(std::move(c));
            return TRUE;
        },
        &conns, 0);
    if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
        _exit(4);
    for (;;) {
        server.NonBlockedHandler();
        xCommClientRounds(1);
        std::string text;
        while (TakeMessage(node, text)) {
            node.SendInit();
            node.SendPacket(text.data(), static_cast<uint32_t>(text.size()));
        }
        if (!clock->Handler() || clock->IsClientDone()) {
            clock.reset();
            clock = std::make_unique<CTimeDiffServer>();
            StartClockNode(*clock);
        }
        xWaitTimeOrSockets(5);
    }
}

// The echo server inside the namespace, on peerIp:kEchoPort.
[[noreturn]] void EchoInside(const NetLink& link)
{
    if (!link.Enter())
        _exit(3);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kEchoPort);
    inet_pton(AF_INET, link.peerIp.c_str(), &a.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 64) != 0)
        _exit(4);
    tvproxy::EchoServe(fd);
}

struct Figures {
    std::string row;
    std::string how; // what made the impairment
    uint32_t messages = 0;
    double seconds = 0;
    std::vector<uint32_t> rtts;
    bool lost = false; // the connection reported its loss
    uint32_t clockRoundTrip = 0, clockOffset = 0;
    bool clockMeasured = false;
};

uint32_t Percentile(std::vector<uint32_t> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

class NetemTest : public tvtest::CommTest
{
  protected:
    void SetUp() override
    {
        tvtest::CommTest::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "not root: network namespaces cannot be made";
        link = std::make_unique<NetLink>();
        if (!link->made)
            GTEST_SKIP() << "network namespaces or veth pairs cannot be made here (CAP_NET_ADMIN?)";
    }
    void TearDown() override
    {
        peer.reset();
        link.reset();
        tvtest::CommTest::TearDown();
    }

    // Sets the row's impairment; false (with a note for the end) when the
    // kernel cannot make it.
    bool Impair(const Row& r, std::string& how)
    {
        if (link->Impair(r.impairment, &how))
            return true;
        skipped.push_back(std::string(r.name) + " (needs netem: '" + r.impairment.netem + "')");
        return false;
    }
    void PrintSkipped()
    {
        for (const std::string& s : skipped)
            std::printf("skipped: %s\n", s.c_str());
    }

    // Sends numbered messages one after the other for ms milliseconds (with
    // the row's cut); every answer must be the next number. Stops early when
    // the connection reports its loss.
    Figures Run(const Row& r, CCommRemoteClient& client, CCommNode& node)
    {
        Figures f;
        f.row = r.name;
        tvtest::LinkCut cutter(*link, r.impairment);
        auto start = Clock::now();
        uint32_t next = 0;
        while (true) {
            if (r.cutAfterMs != 0 && MsSince(start) >= r.cutAfterMs) {
                EXPECT_TRUE(cutter.Start());
            }
            bool down = cutter.Down();
            EXPECT_FALSE(cutter.failed);
            if (MsSince(start) >= r.ms && !down)
                break;
            std::string text = "message " + std::to_string(next);
            auto sent = Clock::now();
            EXPECT_EQ(node.SendInit(), TRUE);
            EXPECT_EQ(node.SendPacket(text.data(), static_cast<uint32_t>(text.size())), TRUE) << LastError();
            bool answered = false;
            // One answer, within 30 s whatever the link did.
            while (!answered && Clock::now() - sent < std::chrono::seconds(30)) {
                cutter.Down();
                xCommClientRounds(1);
                if (client.IsConnected() == 0) {
                    f.lost = true;
                    break;
                }
                std::string got;
                while (TakeMessage(node, got)) {
                    EXPECT_EQ(got, text) << r.name << ": out of order, lost or doubled";
                    answered = got == text;
                }
                if (!answered)
                    xWaitTimeOrSockets(1);
            }
            if (f.lost)
                break;
            EXPECT_TRUE(answered) << r.name << ": no answer to " << text;
            if (!answered)
                break;
            f.rtts.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count()));
            ++next;
        }
        f.messages = next;
        f.seconds = MsSince(start) / 1000.0;
        return f;
    }

    // One clock-difference measurement against the peer: both processes
    // read the same clock, so the true offset is 0 and the learned one lies
    // within the measured round trip.
    void MeasureClock(Figures& f)
    {
        CTimeDiffClient clock;
        StartClockNode(clock);
        uint32_t before = xGetTime(), after = 0;
        auto start = Clock::now();
        while (clock.IsClientDone() != TRUE && Clock::now() - start < std::chrono::seconds(30)) {
            xCommClientRounds(1);
            ASSERT_EQ(clock.Handler(), TRUE) << f.row << ": " << clock.GetErrorMsg();
            if (clock.GetState() >= TDC_SENDDONE && after == 0)
                after = xGetTime();
            xWaitTimeOrSockets(1);
        }
        ASSERT_EQ(clock.IsClientDone(), TRUE) << f.row;
        f.clockRoundTrip = after - before;
        f.clockOffset = clock.GetOffset();
        f.clockMeasured = true;
        EXPECT_NE(clock.GetDiffSign(), 0) << f.row;
        EXPECT_LE(f.clockOffset, f.clockRoundTrip) << f.row;
        // Let the "Done" reach the peer before the node goes.
        for (int i = 0; i < 50; ++i) {
            xCommClientRounds(1);
            xWaitTimeOrSockets(1);
        }
    }

    std::unique_ptr<NetLink> link;
    std::unique_ptr<Forked> peer;
    std::vector<std::string> skipped;
};

TEST_F(NetemTest, NodeMessagesAndClockOverABadLink)
{
    uint16_t port = tvproxy::FreePort();
    const NetLink& l = *link;
    peer = std::make_unique<Forked>([&l, port] { Answer(l, port); });

    CCommNode node;
    node.SetId(kNodeId);
    node.SetName("netem");
    node.SetInAckMode(FALSE);
    node.SetOutAckMode(FALSE);
    ASSERT_EQ(node.InitCommNode(CNODE_CLIENT), TRUE) << LastError();
    CCommRemoteClient client;
    client.SetPacketTypes(0, 1);
    ASSERT_TRUE(client.Startup()) << LastError();
    ASSERT_TRUE(client.SetRemoteLocation(link->peerIp.c_str(), port));
    bool up = tvtest::Until(
        [&] {
            if (client.IsConnected() == 0 && client.Connect() == TRUE)
                for (int i = 0; i < 200 && client.IsConnected() == 0; ++i) {
                    if (!client.NonBlockedConnectHandler())
                        break;
                    usleep(5000);
                }
            return client.IsConnected() == 1;
        },
        100);
    ASSERT_TRUE(up) << LastError();
    // The peer's nodes (messages and clock) are registered before anything
    // is sent.
    ASSERT_TRUE(tvtest::Pump([&] {
        int n = 0;
        for (client.OtherSideNodes_First(); client.OtherSideNodes_Exists(); client.OtherSideNodes_Next())
            ++n;
        return n >= 2;
    })) << LastError();

    std::vector<Figures> table;
    for (const Row& r : Rows()) {
        SCOPED_TRACE(r.name);
        std::string how;
        if (!Impair(r, how))
            continue;
        Figures f = Run(r, client, node);
        f.how = how;
        EXPECT_FALSE(f.lost) << r.name << ": " << LastError();
        EXPECT_GT(f.messages, 0u);
        if (!f.lost)
            MeasureClock(f);
        table.push_back(f);
        if (f.lost || HasFatalFailure())
            break;
    }
    link->Clear();
    std::printf("\n%-30s %-9s %9s %9s %9s %9s %9s %10s %10s\n", "link", "made by", "messages", "msg/s",
                "rtt p50", "rtt p99", "rtt max", "clock rtt", "offset");
    for (const Figures& f : table)
        std::printf("%-30s %-9s %9u %9.1f %7.2fms %7.2fms %7.2fms %8ums %8ums\n", f.row.c_str(),
                    f.how.c_str(), f.messages, f.messages / (f.seconds > 0 ? f.seconds : 1),
                    Percentile(f.rtts, 0.5) / 1000.0, Percentile(f.rtts, 0.99) / 1000.0,
                    Percentile(f.rtts, 1.0) / 1000.0, f.clockRoundTrip, f.clockOffset);
    PrintSkipped();
    client.Disconnect();
    node.ExitCommNode();
}

// The relay proxy on this side, the echo server inside the namespace: a
// stream sent through the proxy comes back byte for byte (by hash), over
// every row. The cut row cuts the link once part of the stream is back.
TEST_F(NetemTest, ProxyRelaysIdenticalBytesOverABadLink)
{
    const NetLink& l = *link;
    peer = std::make_unique<Forked>([&l] { EchoInside(l); });
    // The echo server is up once something answers across the clean link.
    ASSERT_TRUE(tvtest::Until(
        [&] {
            int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(kEchoPort);
            inet_pton(AF_INET, l.peerIp.c_str(), &a.sin_addr);
            bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(fd);
            return ok;
        },
        1000));
    CCommProxyServer proxy;
    ASSERT_TRUE(proxy.Startup(0, 0)) << LastError();
    const uint16_t port = proxy.GetBoundPort();
    ASSERT_NE(port, 0);

    constexpr size_t kTotal = 128 * 1024, kBlock = 16384;
    constexpr size_t kCutAt = 32 * 1024;
    std::string stream(kTotal, '\0');
    for (size_t i = 0; i < kTotal / kBlock; ++i)
        tvproxy::StreamBlock(26, i, &stream[i * kBlock], kBlock);
    const uint64_t want = tvproxy::Fnv(stream.data(), stream.size());

    struct Line {
        std::string row, how;
        double seconds;
    };
    std::vector<Line> lines;
    for (const Row& r : Rows()) {
        SCOPED_TRACE(r.name);
        std::string how;
        if (!Impair(r, how))
            continue;
        tvtest::LinkCut cutter(*link, r.impairment);
        tvproxy::RawClient c(port);
        // The cut row holds back the rest of the stream until the link is
        // cut, so that it has to cross afterwards.
        const bool cutRow = r.cutAfterMs != 0;
        c.out = tvproxy::Record(l.peerIp, kEchoPort) + (cutRow ? stream.substr(0, kCutAt) : stream);
        auto start = Clock::now();
        bool done = false;
        while (!done && !c.eof && Clock::now() - start < std::chrono::seconds(60)) {
            int32_t finished = 0;
            ASSERT_EQ(proxy.Handler(finished), TRUE) << LastError();
            c.Step();
            if (cutRow && !cutter.cut && c.in.size() >= kCutAt) {
                EXPECT_TRUE(cutter.Start());
                c.out += stream.substr(kCutAt);
            }
            cutter.Down();
            done = c.in.size() >= kTotal;
            xWaitTimeOrSockets(1);
        }
        double seconds = MsSince(start) / 1000.0;
        EXPECT_TRUE(done) << r.name << ": " << c.in.size() << " of " << kTotal << " bytes back"
                          << LastError();
        EXPECT_EQ(c.in.size(), kTotal) << r.name;
        EXPECT_EQ(tvproxy::Fnv(c.in.data(), c.in.size()), want) << r.name << ": bytes changed on the way";
        EXPECT_FALSE(c.failed);
        lines.push_back({r.name, how, seconds});
        c.Close();
    }
    // Each relay lingers a moment after its client left, then goes.
    ASSERT_TRUE(tvtest::Until(
        [&] {
            int32_t finished = 0;
            proxy.Handler(finished);
            return proxy.GetConnections()->first == nullptr;
        },
        3000));
    link->Clear();
    std::printf("\n%-30s %-9s %12s %12s\n", "link (proxy, 128 KiB each way)", "made by", "seconds",
                "bytes/s");
    for (const Line& x : lines)
        std::printf("%-30s %-9s %12.2f %12.0f\n", x.row.c_str(), x.how.c_str(), x.seconds,
                    kTotal / (x.seconds > 0 ? x.seconds : 0.001));
    PrintSkipped();
}

} // namespace
