// Comm connection benchmark: two processes on loopback. 1 KB raw packets one
// way (packets/s, MB/s) and a 1 KB ping-pong round trip (µs), the receiving
// side driven by xHandler with the socket wait mode on; the same between
// comm nodes (1 KB KCBL messages: exported, sent, received and imported);
// beside the same traffic over plain blocking TCP sockets, whose round trip
// is also timed with the measuring side polling its socket (as a loop with a
// 0 ms frame polls). The three run interleaved several times; the ratios
// printed are medians.
#include <tarvex/tarvex.h>

#include <arpa/inet.h>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

constexpr uint32_t kSize = 1024;
constexpr int kStream = 100000;
constexpr int kPingPong = 10000;
constexpr int kRuns = 3;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

struct Figures {
    double packetsPerSecond = 0;
    double mbPerSecond = 0;
    double roundTripUs = 0;
    // Plain TCP only: the round trip with this side polling its socket
    // (non-blocking reads in a loop), as a loop with a 0 ms frame does.
    double pollingRoundTripUs = 0;
};

// ---------------------------------------------------------------- plain TCP

int Listen(uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    listen(fd, 4);
    port = ntohs(a.sin_port);
    return fd;
}

int Dial(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        _exit(3);
    return fd;
}

bool ReadAll(int fd, char* buf, size_t n)
{
    while (n > 0) {
        ssize_t r = read(fd, buf, n);
        if (r <= 0)
            return false;
        buf += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

bool WriteAll(int fd, const char* buf, size_t n)
{
    while (n > 0) {
        ssize_t r = write(fd, buf, n);
        if (r <= 0)
            return false;
        buf += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

Figures PlainTcp()
{
    Figures f;
    uint16_t port = 0;
    int lfd = Listen(port);
    pid_t pid = fork();
    if (pid == 0) {
        int fd = Dial(port);
        char buf[kSize] = {};
        for (int i = 0; i < kStream; ++i)
            WriteAll(fd, buf, kSize);
        for (int i = 0; i < 2 * kPingPong; ++i) {
            ReadAll(fd, buf, kSize);
            WriteAll(fd, buf, kSize);
        }
        _exit(0);
    }
    int fd = accept(lfd, nullptr, nullptr);
    char buf[kSize];
    auto t0 = Clock::now();
    for (int i = 0; i < kStream; ++i)
        ReadAll(fd, buf, kSize);
    double s = Seconds(t0);
    f.packetsPerSecond = kStream / s;
    f.mbPerSecond = kStream * double(kSize) / s / 1e6;
    t0 = Clock::now();
    for (int i = 0; i < kPingPong; ++i) {
        WriteAll(fd, buf, kSize);
        ReadAll(fd, buf, kSize);
    }
    f.roundTripUs = Seconds(t0) * 1e6 / kPingPong;
    t0 = Clock::now();
    for (int i = 0; i < kPingPong; ++i) {
        WriteAll(fd, buf, kSize);
        for (size_t got = 0; got < kSize;) {
            ssize_t r = recv(fd, buf + got, kSize - got, MSG_DONTWAIT);
            if (r > 0)
                got += static_cast<size_t>(r);
            else if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                break;
        }
    }
    f.pollingRoundTripUs = Seconds(t0) * 1e6 / kPingPong;
    close(fd);
    close(lfd);
    waitpid(pid, nullptr, 0);
    return f;
}

// ---------------------------------------------------------------- comm objects

int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
{
    return static_cast<CCommRemoteClient*>(user)->SetConnectFromServer(s);
}

// The forked side: streams kStream packets, then echoes kPingPong packets.
[[noreturn]] void CommPeer(uint16_t port)
{
    alarm(120);
    auto* c = new CCommRemoteClient;
    c->SetPacketTypes(1, 0);
    if (!c->Startup() || !c->SetRemoteLocation("127.0.0.1", port) || !c->Connect())
        _exit(2);
    while (!c->IsConnected())
        if (!c->NonBlockedConnectHandler())
            _exit(3);
    char buf[kSize] = {};
    int sent = 0;
    while (sent < kStream) {
        while (sent < kStream && c->NumSendQuePackets() + c->NumTransferOut() < 512) {
            c->SendRawData(buf, kSize);
            ++sent;
        }
        if (!c->NonBlockedHandler())
            _exit(4);
    }
    int echoed = 0;
    while (echoed < kPingPong) {
        if (!c->NonBlockedHandler())
            _exit(5);
        char* data = nullptr;
        uint32_t size = 0;
        while (c->RecvRawData(data, size)) {
            c->SendRawData(data, size);
            xFreeMem(data, __FILE__, __LINE__);
            ++echoed;
        }
        if (c->NumTransferOut() == 0 && c->NumSendQuePackets() == 0)
            xWaitTimeOrSockets(5);
    }
    while (c->IsConnected() && !c->IsFlushed())
        c->NonBlockedHandler();
    _exit(0);
}

Figures Comm(int32_t frameMs)
{
    Figures f;
    auto server = std::make_unique<CCommRemoteServer>();
    auto accepted = std::make_unique<CCommRemoteClient>();
    server->SetPort(0);
    server->Startup();
    server->StartListen();
    server->NonBlockedStartListenHandler();
    server->SetCallbackFunction(Take, accepted.get(), 0);
    accepted->SetPacketTypes(1, 0);
    accepted->Startup();
    pid_t pid = fork();
    if (pid == 0)
        CommPeer(server->GetBoundPort());
    while (!accepted->IsConnected())
        server->BlockedHandler(0);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(frameMs);
    char* data = nullptr;
    uint32_t size = 0;
    int got = 0;
    auto t0 = Clock::now();
    while (got < kStream && accepted->IsConnected()) {
        xHandler();
        while (accepted->RecvRawData(data, size)) {
            xFreeMem(data, __FILE__, __LINE__);
            ++got;
        }
    }
    double s = Seconds(t0);
    f.packetsPerSecond = got / s;
    f.mbPerSecond = got * double(kSize) / s / 1e6;
    char buf[kSize] = {};
    t0 = Clock::now();
    int rounds = 0;
    for (; rounds < kPingPong && accepted->IsConnected(); ++rounds) {
        accepted->SendRawData(buf, kSize);
        bool back = false;
        while (!back && accepted->IsConnected()) {
            xHandler();
            if (accepted->RecvRawData(data, size)) {
                xFreeMem(data, __FILE__, __LINE__);
                back = true;
            }
        }
    }
    f.roundTripUs = Seconds(t0) * 1e6 / (rounds > 0 ? rounds : 1);
    waitpid(pid, nullptr, 0);
    accepted.reset();
    server.reset();
    return f;
}

// ---------------------------------------------------------------- comm nodes

constexpr uint32_t kNodeId = 1;
const char* const kNodeName = "bench";

// A 1 KB message: one item holding about 1000 characters of text.
bool SendMessage(CCommNode& node, const std::string& text)
{
    return node.SendInit() && node.sendKCBL.NewItem("data", KSTRING, text.c_str(), KEND) &&
           node.SendKCBLPacket();
}

// The forked side: a CLIENT node streams kStream messages, then echoes
// kPingPong messages back as they came.
[[noreturn]] void NodePeer(uint16_t port)
{
    alarm(120);
    auto* c = new CCommRemoteClient;
    c->SetPacketTypes(1, 1);
    auto* node = new CCommNode;
    node->SetId(kNodeId);
    node->SetName(kNodeName);
    if (!node->InitCommNode(CNODE_CLIENT))
        _exit(2);
    if (!c->Startup() || !c->SetRemoteLocation("127.0.0.1", port) || !c->Connect())
        _exit(2);
    while (!c->IsConnected())
        if (!c->NonBlockedConnectHandler())
            _exit(3);
    while (!c->HasOtherSideNode(kNodeName, 5, kNodeId, CNODE_CLIENT))
        if (!c->NonBlockedHandler())
            _exit(4);
    const std::string text(1000, 'k');
    int sent = 0;
    while (sent < kStream) {
        while (sent < kStream && c->NumSendQuePackets() + c->NumTransferOut() < 512) {
            if (!SendMessage(*node, text))
                _exit(5);
            ++sent;
        }
        if (!c->NonBlockedHandler())
            _exit(6);
    }
    int echoed = 0;
    while (echoed < kPingPong) {
        if (!c->NonBlockedHandler())
            _exit(7);
        while (node->IsDataAvailable()) {
            char* data = nullptr;
            uint32_t size = 0;
            node->RecvPacket(data, size);
            node->RecvFree();
            node->SendInit();
            node->SendPacket(data, size);
            xFreeMem(data, __FILE__, __LINE__);
            ++echoed;
        }
        if (c->NumTransferOut() == 0 && c->NumSendQuePackets() == 0)
            xWaitTimeOrSockets(5);
    }
    while (c->IsConnected() && !c->IsFlushed())
        c->NonBlockedHandler();
    _exit(0);
}

Figures Nodes(int32_t frameMs)
{
    Figures f;
    auto server = std::make_unique<CCommRemoteServer>();
    auto accepted = std::make_unique<CCommRemoteClient>();
    server->SetPort(0);
    server->Startup();
    server->StartListen();
    server->NonBlockedStartListenHandler();
    server->SetCallbackFunction(Take, accepted.get(), 0);
    accepted->SetPacketTypes(1, 1);
    accepted->Startup();
    pid_t pid = fork();
    if (pid == 0)
        NodePeer(server->GetBoundPort());
    while (!accepted->IsConnected())
        server->BlockedHandler(0);
    // The node starts after the fork: the peer process has nodes of its own.
    auto node = std::make_unique<CCommNode>();
    node->SetId(kNodeId);
    node->SetName(kNodeName);
    node->InitCommNode(CNODE_SERVER);
    xSetXHandlerWaitMode(1);
    SetMinimumFrameTime(frameMs);
    int got = 0;
    auto t0 = Clock::now();
    while (got < kStream && accepted->IsConnected()) {
        xHandler();
        while (node->IsDataAvailable() && node->RecvKCBLPacket()) {
            node->RecvKCBLFree();
            ++got;
        }
    }
    double s = Seconds(t0);
    f.packetsPerSecond = got / s;
    f.mbPerSecond = got * double(kSize) / s / 1e6;
    const std::string text(1000, 'p');
    t0 = Clock::now();
    int rounds = 0;
    for (; rounds < kPingPong && accepted->IsConnected(); ++rounds) {
        SendMessage(*node, text);
        bool back = false;
        while (!back && accepted->IsConnected()) {
            xHandler();
            if (node->IsDataAvailable() && node->RecvKCBLPacket()) {
                node->RecvKCBLFree();
                back = true;
            }
        }
    }
    f.roundTripUs = Seconds(t0) * 1e6 / (rounds > 0 ? rounds : 1);
    waitpid(pid, nullptr, 0);
    node.reset();
    accepted.reset();
    server.reset();
    return f;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

// With arguments (comm|nodes, frame ms) only that kind runs beside plain TCP:
// a shorter run to profile one kind.
int main(int argc, char** argv)
{
    SGlobals g;
    SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals() || !CommBaseStartup())
        return 1;
    signal(SIGPIPE, SIG_IGN);
    // With a minimum frame time the frame waits on the comm sockets; without
    // one xHandler returns at once and the loop polls.
    struct Kind {
        const char* name;
        Figures (*run)(int32_t);
        int32_t frameMs;
        std::vector<double> stream, roundTrip; // ratios to plain TCP of the same run
        std::vector<double> pps, us;
        std::vector<double> roundTripPolling; // ratio to plain TCP with this side polling
    };
    Kind kinds[] = {{"comm", Comm, 2, {}, {}, {}, {}, {}},
                    {"nodes", Nodes, 2, {}, {}, {}, {}, {}},
                    {"comm", Comm, 0, {}, {}, {}, {}, {}},
                    {"nodes", Nodes, 0, {}, {}, {}, {}, {}}};
    std::vector<Kind> chosen;
    for (Kind& k : kinds)
        if (argc < 3 || (std::strcmp(argv[1], k.name) == 0 && std::atoi(argv[2]) == k.frameMs))
            chosen.push_back(k);
    std::vector<double> tcpPps, tcpUs, tcpPollUs;
    for (int run = 0; run < kRuns; ++run) {
        Figures tcp = PlainTcp();
        tcpPps.push_back(tcp.packetsPerSecond);
        tcpUs.push_back(tcp.roundTripUs);
        tcpPollUs.push_back(tcp.pollingRoundTripUs);
        for (Kind& k : chosen) {
            Figures f = k.run(k.frameMs);
            k.pps.push_back(f.packetsPerSecond);
            k.us.push_back(f.roundTripUs);
            k.stream.push_back(f.packetsPerSecond / tcp.packetsPerSecond);
            k.roundTrip.push_back(f.roundTripUs / tcp.roundTripUs);
            k.roundTripPolling.push_back(f.roundTripUs / tcp.pollingRoundTripUs);
        }
    }
    std::printf("medians of %d interleaved runs; 1 KB messages between two processes on loopback\n", kRuns);
    std::printf("plain TCP                        one way %10.0f /s   round trip %8.1f us (this side "
                "polling: %.1f us)\n",
                Median(tcpPps), Median(tcpUs), Median(tcpPollUs));
    for (Kind& k : chosen)
        std::printf("%-5s xHandler, frame time %d ms  one way %10.0f /s (ratio %.2f)   round trip %8.1f us "
                    "(ratio %.2f; %.2f to TCP polling)\n",
                    k.name, k.frameMs, Median(k.pps), Median(k.stream), Median(k.us), Median(k.roundTrip),
                    Median(k.roundTripPolling));
    CommBaseExit();
    xFreeGlobals();
    return 0;
}
