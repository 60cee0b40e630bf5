// Three relay proxies behind a real HAProxy (TCP mode, least connections,
// health checks every 200 ms; one proxy gets the text address header, two
// the binary one), all on 127.0.0.1 with ports chosen at run time. Clients
// come from addresses of their own in 127.0.0.0/8, so the history files can
// be checked for the real client behind the balancer. Then one proxy ends:
// the checks take it out, new connections keep being served, and the
// connections on the other proxies go on. The proxies run in the test
// process on the real clock (HAProxy's checks run on it too).
#include "proxy_util.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sys/stat.h>

using tvproxy::EchoServer;
using tvproxy::Program;
using tvproxy::RawClient;
using tvproxy::Record;
using tvtest::LastError;

namespace
{

using Clock = std::chrono::steady_clock;

constexpr int kProxies = 3;
constexpr int kConnections = 300;
constexpr int kAtOnce = 50;
constexpr int kLongLived = 30;

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Client i of a group: 127.<group>.<i / 250>.<i % 250 + 1>, host order.
uint32_t Source(uint32_t group, int i)
{
    return (127u << 24) | (group << 16) | (static_cast<uint32_t>(i / 250) << 8) |
           static_cast<uint32_t>(i % 250 + 1);
}

std::string SourceText(uint32_t a)
{
    return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
           std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

std::string Payload(int i)
{
    std::string s(1000 + static_cast<size_t>(i) * 337 % 20000, '\0');
    tvproxy::StreamBlock(static_cast<uint32_t>(i) + 77, 0, s.data(), s.size());
    return s;
}

class HaproxyTest : public tvtest::CommTest
{
  protected:
    void SetUp() override
    {
        tvtest::CommTest::SetUp();
        if (std::system("command -v haproxy >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "haproxy not installed (scripts/setup.sh installs it)";
        dir = "haproxy_" + std::to_string(getpid());
        std::system(("rm -rf " + dir).c_str());
        mkdir(dir.c_str(), 0755);
    }
    void TearDown() override
    {
        if (haproxy)
            haproxy->Stop();
        for (auto& p : proxies)
            p.reset();
        if (!dir.empty())
            std::system(("rm -rf " + dir).c_str());
        tvtest::CommTest::TearDown();
    }

    std::string History(int i) const { return dir + "/proxy" + std::to_string(i + 1) + ".txt"; }

    bool StartProxies()
    {
        for (int i = 0; i < kProxies; ++i) {
            proxies[i] = std::make_unique<CCommProxyServer>();
            if (!proxies[i]->SetProxyProtocol(1) || !proxies[i]->SetHistoryLogFile(History(i).c_str()) ||
                !proxies[i]->Startup(0, 0))
                return false;
        }
        return true;
    }

    bool StartHaproxy()
    {
        frontPort = tvproxy::FreePort();
        std::ofstream cfg(dir + "/haproxy.cfg");
        cfg << "global\n    maxconn 4096\n"
               "defaults\n    mode tcp\n    timeout connect 500ms\n    timeout client 30s\n"
               "    timeout server 30s\n    retries 3\n    option redispatch 1\n"
               "frontend relays\n    bind 127.0.0.1:"
            << frontPort
            << "\n    default_backend proxies\n"
               "backend proxies\n    balance leastconn\n    default-server inter 200ms fall 2 rise 1\n";
        for (int i = 0; i < kProxies; ++i)
            cfg << "    server p" << i + 1 << " 127.0.0.1:" << proxies[i]->GetBoundPort() << " check "
                << (i == 0 ? "send-proxy" : "send-proxy-v2") << "\n";
        cfg.close();
        std::vector<std::string> args{"haproxy", "-db", "-f", dir + "/haproxy.cfg"};
        haproxy = std::make_unique<Program>(args, true);
        // Up when the front end takes a connection that reaches a proxy.
        for (auto start = Clock::now(); MsSince(start) < 10000;) {
            RawClient probe(frontPort);
            for (int i = 0; i < 50 && !probe.eof; ++i) {
                Round();
                probe.Step();
            }
            if (!probe.failed && TotalAccepted() > 0)
                return true;
        }
        return false;
    }

    uint32_t TotalAccepted() const
    {
        uint32_t n = 0;
        for (const auto& p : proxies)
            if (p)
                n += p->GetTotalConnections();
        return n;
    }

    // One round of every running proxy, then a short wait for traffic.
    void Round()
    {
        for (auto& p : proxies) {
            int32_t finished = 0;
            if (p) {
                EXPECT_EQ(p->Handler(finished), TRUE) << LastError();
            }
        }
        if (haproxy)
            haproxy->Drain();
        xWaitTimeOrSockets(1);
    }

    // A client through the balancer: its record, its bytes, what comes back.
    struct Client {
        Client(uint16_t port, uint32_t source, uint16_t echoPort, std::string data)
            : raw(port, 0, source), sent(std::move(data))
        {
            raw.out = Record("127.0.0.1", echoPort) + sent;
        }
        bool Done() const { return raw.in.size() >= sent.size() || raw.eof || raw.fd < 0; }
        bool Served() const
        {
            return raw.in.size() == sent.size() && tvproxy::Fnv(raw.in.data(), raw.in.size()) ==
                                                        tvproxy::Fnv(sent.data(), sent.size());
        }
        RawClient raw;
        std::string sent;
    };

    // Steps the clients and proxies until every client is done (at most
    // timeoutMs).
    bool RunUntilDone(std::vector<std::unique_ptr<Client>>& clients, int timeoutMs)
    {
        for (auto start = Clock::now(); MsSince(start) < timeoutMs;) {
            bool all = true;
            for (auto& c : clients) {
                c->raw.Step();
                all = all && c->Done();
            }
            if (all)
                return true;
            Round();
        }
        return false;
    }

    // The history lines of proxy i: client address -> bytes it sent.
    std::map<std::string, uint64_t> ReadHistory(int i) const
    {
        std::map<std::string, uint64_t> clients;
        std::ifstream in(History(i));
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find(" client->server: ");
            if (line.rfind("client ip:", 0) != 0 || at == std::string::npos)
                continue;
            std::string ip = line.substr(10, line.find(' ', 10) - 10);
            clients[ip] = std::stoull(line.substr(at + 17));
        }
        return clients;
    }

    // Which proxy holds the connection from this client address (-1: none).
    int Holder(const std::string& ip)
    {
        for (int i = 0; i < kProxies; ++i)
            if (proxies[i])
                for (SLListNode* n = proxies[i]->GetConnections()->first; n != nullptr; n = n->next)
                    if (ip == static_cast<CProxyConnection*>(n->data)->GetClientIp())
                        return i;
        return -1;
    }

    std::string dir;
    std::unique_ptr<CCommProxyServer> proxies[kProxies];
    std::unique_ptr<Program> haproxy;
    uint16_t frontPort = 0;
};

TEST_F(HaproxyTest, RelaysForTheRealClientsAndFailsOverWhenAProxyEnds)
{
    EchoServer echo;
    ASSERT_NE(echo.port, 0);
    ASSERT_TRUE(StartProxies()) << LastError();
    ASSERT_TRUE(StartHaproxy()) << haproxy->output;

    // 300 connections, 50 at a time, each from its own address.
    const uint32_t before = TotalAccepted();
    std::map<std::string, uint64_t> expected;
    for (int first = 0; first < kConnections; first += kAtOnce) {
        std::vector<std::unique_ptr<Client>> wave;
        for (int i = first; i < first + kAtOnce; ++i) {
            wave.push_back(std::make_unique<Client>(frontPort, Source(10, i), echo.port, Payload(i)));
            expected[SourceText(Source(10, i))] = wave.back()->sent.size();
        }
        ASSERT_TRUE(RunUntilDone(wave, 20000)) << "wave from " << first << "\n" << haproxy->output;
        for (size_t k = 0; k < wave.size(); ++k)
            EXPECT_TRUE(wave[k]->Served()) << "client " << first + static_cast<int>(k);
    }
    EXPECT_GE(TotalAccepted() - before, static_cast<uint32_t>(kConnections));

    // The history names each client behind the balancer, with its bytes; the
    // balancer spread them over all three proxies. (A proxy writes a line a
    // moment after its connection closed.)
    std::map<std::string, uint64_t> seen;
    int perProxy[kProxies] = {};
    for (auto start = Clock::now(); MsSince(start) < 20000 && seen.size() < expected.size();) {
        for (int k = 0; k < 50; ++k)
            Round();
        seen.clear();
        for (int i = 0; i < kProxies; ++i) {
            auto lines = ReadHistory(i);
            perProxy[i] = static_cast<int>(lines.size());
            seen.insert(lines.begin(), lines.end());
        }
    }
    EXPECT_EQ(seen.size(), expected.size()) << "clients in the history";
    for (const auto& [ip, bytes] : expected)
        EXPECT_EQ(seen.count(ip) != 0 ? seen[ip] : 0, bytes) << ip;
    for (int i = 0; i < kProxies; ++i)
        EXPECT_GT(perProxy[i], 0) << "proxy " << i + 1;

    // Connections that stay open, spread over the proxies.
    std::vector<std::unique_ptr<Client>> open;
    for (int i = 0; i < kLongLived; ++i)
        open.push_back(
            std::make_unique<Client>(frontPort, Source(20, i), echo.port, "hello " + std::to_string(i)));
    ASSERT_TRUE(RunUntilDone(open, 20000));
    std::vector<int> holder;
    int victim = 1;
    int onVictim = 0;
    for (int i = 0; i < kLongLived; ++i) {
        ASSERT_TRUE(open[static_cast<size_t>(i)]->Served()) << i;
        holder.push_back(Holder(SourceText(Source(20, i))));
        ASSERT_GE(holder.back(), 0) << i;
        onVictim += holder.back() == victim ? 1 : 0;
    }
    ASSERT_GT(onVictim, 0);

    // Proxy 2 ends with its listener and its connections. New connections
    // go on being opened, one every 20 ms, until a second after HAProxy
    // marked it down; every one must be served.
    proxies[victim].reset();
    const auto killed = Clock::now();
    const std::string down = "proxies/p" + std::to_string(victim + 1) + " is DOWN";
    long long downMs = -1;
    std::vector<std::unique_ptr<Client>> fresh;
    auto lastOpen = Clock::now() - std::chrono::milliseconds(100);
    while (MsSince(killed) < 8000) {
        if (downMs < 0 && haproxy->output.find(down) != std::string::npos)
            downMs = MsSince(killed);
        if (downMs >= 0 && MsSince(killed) > downMs + 1000)
            break;
        if (MsSince(lastOpen) >= 20) {
            int i = static_cast<int>(fresh.size());
            fresh.push_back(std::make_unique<Client>(frontPort, Source(30, i), echo.port, Payload(i)));
            lastOpen = Clock::now();
        }
        for (auto& c : fresh)
            c->raw.Step();
        Round();
    }
    ASSERT_GE(downMs, 0) << "HAProxy never marked the ended proxy down:\n" << haproxy->output;
    ASSERT_TRUE(RunUntilDone(fresh, 20000));
    int served = 0;
    for (auto& c : fresh)
        served += c->Served() ? 1 : 0;
    EXPECT_EQ(served, static_cast<int>(fresh.size()));
    std::printf("[ failover ] proxy %d marked down %lld ms after it ended (checks every 200 ms, fall 2); "
                "%d of %zu new connections meanwhile served\n",
                victim + 1, downMs, served, fresh.size());
    EXPECT_LT(downMs, 5000);

    // The connections on the other proxies go on; those on the ended one
    // were closed with it.
    for (int i = 0; i < kLongLived; ++i) {
        auto& c = *open[static_cast<size_t>(i)];
        if (holder[static_cast<size_t>(i)] == victim)
            continue;
        c.raw.out += " again";
        c.sent += " again";
    }
    ASSERT_TRUE(RunUntilDone(open, 20000));
    for (int i = 0; i < kLongLived; ++i) {
        auto& c = *open[static_cast<size_t>(i)];
        if (holder[static_cast<size_t>(i)] == victim)
            EXPECT_TRUE(c.raw.eof) << i;
        else
            EXPECT_TRUE(c.Served() && !c.raw.eof) << i << ": " << c.raw.in;
    }
}

} // namespace
