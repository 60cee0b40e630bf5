// Load: many concurrent clients on one remote comm server, each keeping one
// message in flight (the server answers every message on its connection),
// for a given time. Prints messages per second, round-trip percentiles,
// resident memory of the server at the start and the end, and the server's
// open descriptors before, during and after (they must return to the start
// count once the clients have left).
//
//   tarvex_bench_comm_load [clients=1000] [seconds=60] [soak]
//
// Server and clients are two processes on loopback; not run by CI. With
// "soak" a relay proxy process stands between them and clients disconnect
// and reconnect at random (between messages); the end prints what was sent,
// answered and lost (must be 0) and the client process's leak list
// (scripts/soak.sh runs this).
#include <tarvex/tarvex.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

void Start()
{
    static SGlobals g;
    static SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals() || !CommBaseStartup())
        std::exit(1);
    signal(SIGPIPE, SIG_IGN);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

int OpenDescriptors(pid_t pid)
{
    std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (d == nullptr)
        return -1;
    int n = 0;
    while (readdir(d) != nullptr)
        ++n;
    closedir(d);
    return n - 2;
}

long RssKb(pid_t pid)
{
    std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f) != nullptr)
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kb = std::atol(line + 6);
    std::fclose(f);
    return kb;
}

// A free port; below 32768 (what a proxy location record can name) when low.
uint16_t FreePort(bool low = false)
{
    for (uint32_t i = 0; i < 500; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = low ? htons(static_cast<uint16_t>(20000 + (getpid() * 31u + i * 97u) % 12000)) : 0;
        socklen_t len = sizeof a;
        bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        close(fd);
        if (ok)
            return ntohs(a.sin_port);
    }
    return 0;
}

// The server: answers every raw message on the connection it came on.
[[noreturn]] void Serve(uint16_t port)
{
    Start();
    std::vector<std::unique_ptr<CCommRemoteClient>> conns;
    CCommRemoteServer server;
    server.SetPort(port);
    server.SetCallbackFunction(
        [](CCommRemoteServerBase* s, void* user, int32_t) -> int32_t {
            auto* list = static_cast<std::vector<std::unique_ptr<CCommRemoteClient>>*>(user);
            auto c = std::make_unique<CCommRemoteClient>();
            c->SetPacketTypes(1, 0);
            if (!c->Startup() || !c->SetConnectFromServer(s))
                return FALSE;
            list->push_back(std::move(c));
            return TRUE;
        },
        &conns, 0);
    if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
        _exit(2);
    for (;;) {
        for (int i = 0; i < 32; ++i)
            server.NonBlockedHandler();
        xCommClientRounds(1);
        for (auto& c : conns) {
            char* data = nullptr;
            uint32_t size = 0;
            while (c->IsConnected() == 1 && c->RecvRawData(data, size)) {
                c->SendRawData(data, size);
                xFreeMem(data, __FILE__, __LINE__);
            }
        }
        // Clients that left are released (their descriptors closed).
        conns.erase(std::remove_if(conns.begin(), conns.end(),
                                   [](const std::unique_ptr<CCommRemoteClient>& c) { return c->IsConnected() == 0; }),
                    conns.end());
        xWaitTimeOrSockets(1);
    }
}

// The relay proxy: runs until killed.
[[noreturn]] void Relay(uint16_t port)
{
    Start();
    CCommProxyServer proxy;
    if (!proxy.Startup(port, 0))
        _exit(2);
    for (;;) {
        int32_t finished = 0;
        proxy.Handler(finished);
        xWaitTimeOrSockets(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const bool soak = argc > 3 && std::strcmp(argv[3], "soak") == 0;
    uint16_t port = FreePort(soak);
    pid_t server = fork();
    if (server == 0)
        Serve(port);
    uint16_t proxyPort = soak ? FreePort() : 0;
    pid_t relay = soak ? fork() : -1;
    if (relay == 0)
        Relay(proxyPort);
    usleep(300000);
    const int fdStart = OpenDescriptors(server);
    const long rssStart = RssKb(server);
    Start();

    std::vector<std::unique_ptr<CCommRemoteClient>> cs;
    std::vector<Clock::time_point> sentAt(static_cast<size_t>(clients));
    std::vector<char> waiting(static_cast<size_t>(clients), 0);
    for (int i = 0; i < clients; ++i) {
        auto c = std::make_unique<CCommRemoteClient>();
        c->SetPacketTypes(1, 0);
        if (!c->Startup() || !c->SetRemoteLocation("127.0.0.1", port) ||
            (soak && !c->SetProxy("127.0.0.1", proxyPort)))
            return 3;
        cs.push_back(std::move(c));
    }
    // Connect a few at a time (the listen queue is short).
    auto connectStart = Clock::now();
    int connected = 0;
    while (connected < clients && Clock::now() - connectStart < std::chrono::seconds(120)) {
        connected = 0;
        int pending = 0;
        for (auto& c : cs) {
            if (c->IsConnected() == 1) {
                ++connected;
                continue;
            }
            if (pending >= 8)
                continue;
            ++pending;
            if (c->GetSocket() == INVALID_SOCKET)
                c->Connect();
            if (!c->NonBlockedConnectHandler())
                c->Connect();
        }
        xCommClientRounds(1);
        usleep(500);
    }
    std::printf("%d of %d clients connected in %.1f s\n", connected, clients,
                std::chrono::duration<double>(Clock::now() - connectStart).count());

    const long rssConnected = RssKb(server);
    std::vector<uint32_t> rtts;
    rtts.reserve(1 << 22);
    uint64_t messages = 0, sent = 0, reconnects = 0;
    int lost = 0;
    uint32_t rng = 12345;
    const char payload[64] = "load message";
    auto start = Clock::now();
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        for (size_t i = 0; i < cs.size(); ++i) {
            CCommRemoteClient& c = *cs[i];
            if (soak && c.IsConnected() == 0 && !waiting[i]) {
                // Reconnecting after a disconnect of its own.
                if (c.GetSocket() == INVALID_SOCKET)
                    c.Connect();
                if (!c.NonBlockedConnectHandler())
                    c.Connect();
                continue;
            }
            if (c.IsConnected() == 0)
                continue;
            char* data = nullptr;
            uint32_t size = 0;
            while (c.RecvRawData(data, size)) {
                xFreeMem(data, __FILE__, __LINE__);
                rtts.push_back(static_cast<uint32_t>(
                    std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sentAt[i]).count()));
                ++messages;
                waiting[i] = 0;
            }
            rng = rng * 1103515245u + 12345u;
            if (soak && !waiting[i] && (rng >> 16) % 2000 == 0) {
                c.Disconnect(); // between messages: nothing may be lost
                ++reconnects;
                continue;
            }
            if (!waiting[i] && c.SendRawData(payload, sizeof payload)) {
                sentAt[i] = Clock::now();
                waiting[i] = 1;
                ++sent;
            }
        }
        xCommClientRounds(1);
    }
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    // Answers still under way come in before the count.
    for (auto t = Clock::now(); Clock::now() - t < std::chrono::seconds(10);) {
        bool any = false;
        for (size_t i = 0; i < cs.size(); ++i) {
            char* data = nullptr;
            uint32_t size = 0;
            while (cs[i]->IsConnected() == 1 && cs[i]->RecvRawData(data, size)) {
                xFreeMem(data, __FILE__, __LINE__);
                ++messages;
                waiting[i] = 0;
            }
            any = any || (waiting[i] && cs[i]->IsConnected() == 1);
        }
        if (!any)
            break;
        xCommClientRounds(1);
    }
    for (size_t i = 0; i < cs.size(); ++i)
        lost += waiting[i] ? 1 : 0;
    const long rssEnd = RssKb(server);
    const int fdDuring = OpenDescriptors(server);
    for (auto& c : cs)
        if (c->IsConnected() == 1)
            c->Disconnect();
    cs.clear();
    int fdEnd = -1;
    for (int i = 0; i < 100; ++i) {
        usleep(50000);
        fdEnd = OpenDescriptors(server);
        if (fdEnd == fdStart)
            break;
    }
    std::sort(rtts.begin(), rtts.end());
    auto pct = [&](double p) {
        return rtts.empty() ? 0.0 : rtts[std::min(rtts.size() - 1, static_cast<size_t>(p * rtts.size()))] / 1000.0;
    };
    std::printf("%d clients%s, %.0f s: sent %llu, received %llu, lost %d, %.0f messages/s, reconnects %llu\n",
                clients, soak ? " through the proxy with random disconnects" : "", secs,
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(messages), lost,
                messages / secs, static_cast<unsigned long long>(reconnects));
    std::printf("round trip ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n", pct(0.5), pct(0.9), pct(0.99),
                pct(1.0));
    std::printf("server RSS: start %ld KB, clients connected %ld KB, end %ld KB\n", rssStart, rssConnected,
                rssEnd);
    std::printf("server descriptors: start %d, with clients %d, after they left %d\n", fdStart, fdDuring, fdEnd);
    kill(server, SIGKILL);
    waitpid(server, nullptr, 0);
    if (relay > 0) {
        kill(relay, SIGKILL);
        waitpid(relay, nullptr, 0);
    }
    CommBaseExit();
    // The leak list is read once the globals are freed (before that it
    // holds the globals' own blocks): the tracker writes each block left
    // through the trace channel.
    static std::string leaks;
    xSetDprintfOutput([](char* text) { leaks += text; });
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    glb = nullptr;
    sglb = nullptr;
    std::printf("leak list (client process): %s\n%s", leaks.empty() ? "empty" : "NOT EMPTY", leaks.c_str());
    return fdEnd == fdStart && lost == 0 && leaks.empty() ? 0 : 1;
}
