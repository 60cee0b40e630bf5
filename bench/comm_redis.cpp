// Hubs joined through Redis: what the hop through Redis costs. A
// redis-server of its own, two hub processes joined through it, an echo
// process on each hub (a SERVER node that sends back every packet), and this
// process as a client of hub 1. The same 100-byte node packets go to the
// echo on hub 1 (within one hub) and to the echo on hub 2 (hub 1 -> Redis ->
// hub 2 and back), in alternating order over several rounds: echoed
// messages per second with 256 in flight, and the round trip of one message
// at a time (p50, p99). Every process runs 2 ms frames that wake on their
// sockets (the hubs' Redis connections included). Prints the medians over
// the rounds and the median ratio across / within.
#include <tarvex/tarvex.h>

#include "../tests/comm/redis_util.h"
#include "../tests/support/comm_helpers.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <algorithm>

namespace
{

constexpr int kRounds = 5;
constexpr int kStream = 20000;
constexpr int kWindow = 256;
constexpr int kPings = 2000;
constexpr uint32_t kSize = 100;
constexpr int32_t kFrameMs = 2;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

void StartProcess()
{
    glb = new SGlobals;
    sglb = new SSysGlobals;
    if (!xCreateGlobals() || !CommBaseStartup())
        _exit(90);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(kFrameMs);
}

// A hub: every accepted connection gets a comm object of its own.
std::vector<CCommRemoteClient*> g_accepted;
int32_t Accept(CCommRemoteServerBase* s, void*, int32_t)
{
    auto* c = XNEW(CCommRemoteClient);
    c->SetPacketTypes(1, 1);
    if (!c->Startup() || !c->SetConnectFromServer(s))
        return FALSE;
    g_accepted.push_back(c);
    return TRUE;
}

[[noreturn]] void HubProcess(const std::string& redis, const std::string& prefix, const char* id,
                             int portPipe)
{
    StartProcess();
    CCommRemoteServer server;
    server.SetPort(0);
    if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
        _exit(91);
    server.SetCallbackFunction(Accept, nullptr, 0);
    if (!xCommNodeJoinRedis(redis.c_str(), prefix.c_str(), id))
        _exit(92);
    while (!xCommNodeRedisLinked())
        xHandler();
    const uint16_t port = server.GetBoundPort();
    if (write(portPipe, &port, sizeof port) != sizeof port)
        _exit(93);
    close(portPipe);
    for (;;) {
        server.NonBlockedHandler();
        xHandler();
    }
}

using tvhelp::Dial;

bool Send(CCommNode& node, char* data, uint32_t size)
{
    return node.SendInit() && node.SendPacket(data, size);
}

// Takes one packet if one waits; its first four bytes into seq.
bool Take(CCommNode& node, uint32_t* seq = nullptr)
{
    if (!node.IsDataAvailable())
        return false;
    char* data = nullptr;
    uint32_t size = 0;
    if (!node.RecvPacket(data, size))
        return false;
    if (seq != nullptr && size >= 4)
        std::memcpy(seq, data, 4);
    node.RecvFree();
    XFREE(data);
    return true;
}

[[noreturn]] void EchoProcess(uint16_t hubPort, const char* name)
{
    StartProcess();
    CCommNode node;
    node.SetId(1);
    node.SetName(name);
    if (!node.InitCommNode(CNODE_SERVER) || Dial(hubPort) == nullptr)
        _exit(94);
    for (;;) {
        xHandler();
        while (node.IsDataAvailable()) {
            char* data = nullptr;
            uint32_t size = 0;
            if (!node.RecvPacket(data, size))
                break;
            node.RecvFree();
            Send(node, data, size);
            XFREE(data);
        }
    }
}

pid_t Fork(const std::function<void()>& child)
{
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(600);
        child();
        _exit(0);
    }
    return pid;
}

struct Figures {
    double perSecond = 0, p50Us = 0, p99Us = 0;
};

Figures Measure(CCommNode& node)
{
    Figures f;
    char buf[kSize] = {};
    // Echoed messages per second with kWindow in flight.
    int sent = 0, back = 0;
    auto t0 = Clock::now();
    while (back < kStream) {
        while (sent < kStream && sent - back < kWindow) {
            const uint32_t seq = static_cast<uint32_t>(sent++);
            std::memcpy(buf, &seq, 4);
            Send(node, buf, kSize);
        }
        xHandler();
        while (Take(node))
            ++back;
    }
    f.perSecond = kStream / std::chrono::duration<double>(Clock::now() - t0).count();
    // One at a time.
    std::vector<double> us;
    for (int i = 0; i < kPings; ++i) {
        const uint32_t seq = 0x80000000u + static_cast<uint32_t>(i);
        std::memcpy(buf, &seq, 4);
        const auto t = Clock::now();
        Send(node, buf, kSize);
        uint32_t got = 0;
        while (got != seq) {
            xHandler();
            while (got != seq && Take(node, &got)) {
            }
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
    }
    std::sort(us.begin(), us.end());
    f.p50Us = us[us.size() / 2];
    f.p99Us = us[us.size() * 99 / 100];
    return f;
}

} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    if (!tvtest::RedisServer::Available()) {
        std::printf("redis-server is not installed: nothing to measure\n");
        return 0;
    }
    tvtest::RedisServer redis;
    if (!redis.Start()) {
        std::printf("redis-server did not start\n");
        return 1;
    }
    const std::string prefix = "bench" + std::to_string(getpid());
    std::vector<pid_t> pids;
    uint16_t hubPort[3] = {};
    for (int h = 1; h <= 2; ++h) {
        int fds[2];
        if (pipe(fds) != 0)
            return 1;
        const std::string id = "hub" + std::to_string(h);
        pids.push_back(Fork([&] {
            close(fds[0]);
            HubProcess(redis.Address(), prefix, id.c_str(), fds[1]);
        }));
        close(fds[1]);
        if (read(fds[0], &hubPort[h], sizeof hubPort[h]) != sizeof hubPort[h]) {
            std::printf("hub %d did not come up\n", h);
            return 1;
        }
        close(fds[0]);
    }
    pids.push_back(Fork([&] { EchoProcess(hubPort[1], "echo1"); }));
    pids.push_back(Fork([&] { EchoProcess(hubPort[2], "echo2"); }));

    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals() || !CommBaseStartup())
        return 1;
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(kFrameMs);
    CCommNode within, across;
    within.SetId(1);
    within.SetName("echo1");
    across.SetId(1);
    across.SetName("echo2");
    CCommRemoteClient* c = nullptr;
    if (!within.InitCommNode(CNODE_CLIENT) || !across.InitCommNode(CNODE_CLIENT) ||
        (c = Dial(hubPort[1])) == nullptr) {
        std::printf("could not reach hub 1\n");
        return 1;
    }
    // Both echoes answer before anything is timed.
    for (CCommNode* node : {&within, &across}) {
        char probe[kSize] = {};
        bool answered = false;
        for (int i = 0; i < 10000 && !answered; ++i) {
            if (i % 100 == 0)
                Send(*node, probe, kSize);
            xHandler();
            answered = Take(*node);
        }
        if (!answered) {
            std::printf("echo %s does not answer\n", node->GetName());
            return 1;
        }
        for (int i = 0; i < 200; ++i) {
            xHandler();
            Take(*node);
        }
    }

    std::vector<double> rate[2], p50[2], p99[2], rateRatio, p50Ratio, p99Ratio;
    for (int r = 0; r < kRounds; ++r) {
        Figures f[2];
        // Alternating order: a busy moment on a shared machine hits both.
        for (int k : {r % 2, 1 - r % 2})
            f[k] = Measure(k == 0 ? within : across);
        for (int k = 0; k < 2; ++k) {
            rate[k].push_back(f[k].perSecond);
            p50[k].push_back(f[k].p50Us);
            p99[k].push_back(f[k].p99Us);
        }
        rateRatio.push_back(f[1].perSecond / f[0].perSecond);
        p50Ratio.push_back(f[1].p50Us / f[0].p50Us);
        p99Ratio.push_back(f[1].p99Us / f[0].p99Us);
    }
    std::printf(
        "medians of %d interleaved rounds; %u-byte node packets echoed, %d ms frames waking on sockets\n",
        kRounds, kSize, kFrameMs);
    const char* names[2] = {"within one hub        ", "across two hubs+Redis "};
    for (int k = 0; k < 2; ++k)
        std::printf("%s %9.0f echoed msg/s (%d in flight)   round trip p50 %7.1f us  p99 %7.1f us\n",
                    names[k], Median(rate[k]), kWindow, Median(p50[k]), Median(p99[k]));
    std::printf("across / within (median of per-round ratios): rate %.2f  p50 %.2f  p99 %.2f\n",
                Median(rateRatio), Median(p50Ratio), Median(p99Ratio));

    for (pid_t pid : pids) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    within.ExitCommNode();
    across.ExitCommNode();
    c->Closedown();
    XDELETE(c);
    CommBaseExit();
    xFreeGlobals();
    return 0;
}
