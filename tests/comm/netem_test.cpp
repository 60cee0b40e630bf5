// Node messaging over a bad link: a network namespace joined to this one by
// a veth pair, impaired with tc (netem delay, jitter, loss and reordering; a
// bandwidth cap; a 5 s cut of the link). A forked peer inside the namespace
// runs a remote comm server with a node that answers every message; this
// side's node sends numbered messages one after the other. Every message
// must come back once and in order, or the connection must report its
// loss. Prints messages per second and round trips per impairment next to
// the clean link. Needs root (CAP_NET_ADMIN): skipped otherwise; rows
// whose queueing discipline the kernel lacks are skipped with a note.
#include "proxy_util.h"

#include <tarvex/commnode.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>

using tvproxy::Forked;
using tvtest::LastError;

namespace
{

using Clock = std::chrono::steady_clock;

int Sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// The namespace, the veth pair and their addresses; removed on destruction.
struct Link {
    std::string ns, host, peer, hostIp, peerIp;
    bool made = false;

    Link()
    {
        std::string id = std::to_string(getpid() % 100000);
        ns = "tvx" + id;
        host = "tvx" + id + "a";
        peer = "tvx" + id + "b";
        std::string net = "10.231." + std::to_string(getpid() % 250 + 1) + ".";
        hostIp = net + "1";
        peerIp = net + "2";
        made = Sh("ip netns add " + ns) == 0;
        if (!made)
            return;
        made = Sh("ip link add " + host + " type veth peer name " + peer) == 0 &&
               Sh("ip link set " + peer + " netns " + ns) == 0 &&
               Sh("ip addr add " + hostIp + "/24 dev " + host) == 0 && Sh("ip link set " + host + " up") == 0 &&
               Sh("ip netns exec " + ns + " ip addr add " + peerIp + "/24 dev " + peer) == 0 &&
               Sh("ip netns exec " + ns + " ip link set " + peer + " up") == 0 &&
               Sh("ip netns exec " + ns + " ip link set lo up") == 0;
    }
    ~Link()
    {
        Sh("ip link del " + host);
        Sh("ip netns del " + ns);
    }
    // The same discipline on both ends (both directions impaired); "" clears.
    bool Impair(const std::string& qdisc)
    {
        Sh("tc qdisc del dev " + host + " root");
        Sh("ip netns exec " + ns + " tc qdisc del dev " + peer + " root");
        if (qdisc.empty())
            return true;
        return Sh("tc qdisc add dev " + host + " root " + qdisc) == 0 &&
               Sh("ip netns exec " + ns + " tc qdisc add dev " + peer + " root " + qdisc) == 0;
    }
    // A cut drops every packet both ways while the interfaces, addresses and
    // routes stay (a link taken down would answer with "unreachable" errors
    // rather than silence): a token bucket smaller than any packet.
    void Cut(bool down) { Impair(down ? "tbf rate 8bit burst 10 latency 1ms" : ""); }
};

constexpr uint32_t kNodeId = 26;

// The next message waiting at the node, or false.
bool TakeMessage(CCommNode& node, std::string& out)
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

// The peer: a remote server in the namespace whose node answers each message
// with the same bytes. Runs until killed.
[[noreturn]] void Answer(const std::string& ns, uint16_t port)
{
    int fd = open(("/var/run/netns/" + ns).c_str(), O_RDONLY);
    if (fd < 0 || setns(fd, CLONE_NEWNET) != 0)
        _exit(3);
    CCommNode node;
    node.SetId(kNodeId);
    node.SetName("netem");
    node.SetInAckMode(FALSE);
    node.SetOutAckMode(FALSE);
    node.InitCommNode(CNODE_SERVER);
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
        xWaitTimeOrSockets(5);
    }
}

struct Figures {
    std::string row;
    uint32_t messages = 0;
    double seconds = 0;
    std::vector<uint32_t> rtts;
    bool lost = false; // the connection reported its loss
};

class NetemTest : public tvtest::CommTest
{
  protected:
    void SetUp() override
    {
        tvtest::CommTest::SetUp();
        if (geteuid() != 0)
            GTEST_SKIP() << "not root: network namespaces cannot be made";
        link = std::make_unique<Link>();
        if (!link->made)
            GTEST_SKIP() << "network namespaces or veth pairs cannot be made here (CAP_NET_ADMIN?)";
    }
    void TearDown() override
    {
        peer.reset();
        link.reset();
        tvtest::CommTest::TearDown();
    }

    // Sends numbered messages one after the other for ms milliseconds (and
    // runs during() once after cutAfterMs); every answer must be the next
    // number. Stops early when the connection reports its loss.
    Figures Run(const std::string& row, CCommRemoteClient& client, CCommNode& node, uint32_t ms,
                uint32_t cutAfterMs = 0)
    {
        Figures f;
        f.row = row;
        auto start = Clock::now();
        bool cut = false, restored = false;
        Clock::time_point cutAt;
        uint32_t next = 0;
        auto elapsed = [&] {
            return static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        };
        while (true) {
            uint32_t now = elapsed();
            if (cutAfterMs != 0 && !cut && now >= cutAfterMs) {
                link->Cut(true);
                cut = true;
                cutAt = Clock::now();
            }
            if (cut && !restored && Clock::now() - cutAt >= std::chrono::seconds(5)) {
                link->Cut(false);
                restored = true;
            }
            if (now >= ms && (cutAfterMs == 0 || restored))
                break;
            std::string text = "message " + std::to_string(next);
            auto sent = Clock::now();
            EXPECT_EQ(node.SendInit(), TRUE);
            EXPECT_EQ(node.SendPacket(text.data(), static_cast<uint32_t>(text.size())), TRUE) << LastError();
            bool answered = false;
            // One answer, within 30 s whatever the link did.
            while (!answered && Clock::now() - sent < std::chrono::seconds(30)) {
                if (cut && !restored && Clock::now() - cutAt >= std::chrono::seconds(5)) {
                    link->Cut(false);
                    restored = true;
                }
                xCommClientRounds(1);
                if (client.IsConnected() == 0) {
                    f.lost = true;
                    break;
                }
                std::string got;
                while (TakeMessage(node, got)) {
                    EXPECT_EQ(got, text) << row << ": out of order, lost or doubled";
                    answered = got == text;
                }
                if (!answered)
                    xWaitTimeOrSockets(1);
            }
            if (f.lost)
                break;
            EXPECT_TRUE(answered) << row << ": no answer to " << text;
            if (!answered)
                break;
            f.rtts.push_back(static_cast<uint32_t>(
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count()));
            ++next;
        }
        if (cut && !restored)
            link->Cut(false);
        f.messages = next;
        f.seconds = elapsed() / 1000.0;
        return f;
    }

    std::unique_ptr<Link> link;
    std::unique_ptr<Forked> peer;
};

uint32_t Percentile(std::vector<uint32_t> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

TEST_F(NetemTest, NodeMessagesArriveOnceInOrderOverABadLink)
{
    uint16_t port = tvproxy::FreePort();
    std::string ns = link->ns;
    peer = std::make_unique<Forked>([ns, port] { Answer(ns, port); });

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
    // The peer's node registration comes in before anything is sent.
    ASSERT_TRUE(tvtest::Pump([&] {
        client.OtherSideNodes_First();
        return client.OtherSideNodes_Exists() != 0;
    })) << LastError();

    struct Row {
        const char* name;
        std::string qdisc;
        uint32_t ms;
        uint32_t cutAfterMs;
    };
    const Row rows[] = {
        {"clean", "", 2000, 0},
        {"delay 50ms+-20ms (reordering)", "netem delay 50ms 20ms distribution normal", 3000, 0},
        {"loss 3%", "netem loss 3%", 3000, 0},
        {"delay+loss+reorder", "netem delay 50ms 20ms loss 3% reorder 25% 50%", 3000, 0},
        {"rate 1mbit", "tbf rate 1mbit burst 16kbit latency 200ms", 2000, 0},
        {"link cut 5 s", "", 7000, 1000},
    };
    std::vector<Figures> table;
    std::vector<std::string> skipped;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (!link->Impair(r.qdisc)) {
            skipped.push_back(std::string(r.name) + " (tc qdisc '" + r.qdisc + "' not available here)");
            continue;
        }
        Figures f = Run(r.name, client, node, r.ms, r.cutAfterMs);
        EXPECT_FALSE(f.lost) << r.name << ": " << LastError();
        EXPECT_GT(f.messages, 0u);
        table.push_back(f);
        if (f.lost)
            break;
    }
    link->Impair("");
    std::printf("\n%-32s %10s %10s %10s %10s %10s\n", "link", "messages", "msg/s", "rtt p50", "rtt p99",
                "rtt max");
    for (const Figures& f : table)
        std::printf("%-32s %10u %10.1f %8.2fms %8.2fms %8.2fms\n", f.row.c_str(), f.messages,
                    f.messages / (f.seconds > 0 ? f.seconds : 1), Percentile(f.rtts, 0.5) / 1000.0,
                    Percentile(f.rtts, 0.99) / 1000.0, Percentile(f.rtts, 1.0) / 1000.0);
    for (const std::string& s : skipped)
        std::printf("skipped: %s\n", s.c_str());
    client.Disconnect();
    node.ExitCommNode();
}

} // namespace
