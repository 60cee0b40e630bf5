// Load: many concurrent clients on one remote comm server, each keeping one
// message in flight (the server answers every message), for a given time.
// Prints messages per second, round-trip percentiles, resident memory of the
// server at the start and the end, and the server's open descriptors
// before, during and after (they must return to the start count once the
// clients have left).
//
//   tarvex_bench_comm_load [clients=1000] [seconds=60] [soak|node [per-process=1]]
//
// Server and clients run on loopback; not run by CI. Without a mode the
// clients are raw comm connections in one process and the server answers
// on the connection a message came on. With "node" every client is a
// process of its own, as a program would be, with one comm node whose
// address (id, name) is its own; the server holds an answering node for
// each address, kept on the connection of that address's client only, and
// the messages travel as node packets; a further number puts that many
// clients in each process (each still with a node and a connection of its
// own), so that the server, not a thousand processes on a few cores, is
// what is measured. With "soak" a
// relay proxy process stands between raw clients and the server and clients
// disconnect and reconnect at random (between messages); the end prints
// what was sent, answered and lost (must be 0) and the client process's
// leak list (scripts/soak.sh runs this).
#include <tarvex/tarvex.h>

#include "../tests/support/comm_helpers.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/mman.h>
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

volatile sig_atomic_t g_stop = 0;

void Start()
{
    static SGlobals g;
    static SSysGlobals s;
    glb = &g;
    sglb = &s;
    if (!xCreateGlobals() || !CommBaseStartup())
        std::exit(1);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTERM, [](int) { g_stop = 1; });
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
}

// Ends the comm layer and frees the globals, then prints the process's leak
// list (when quiet, only a list that is not empty); true when it is empty.
// The list is read once the globals are freed (before that it holds the
// globals' own blocks): the tracker writes each block left through the trace
// channel.
bool Finish(const char* who, bool quiet = false)
{
    CommBaseExit();
    static std::string leaks;
    leaks.clear();
    xSetDprintfOutput([](char* text) { leaks += text; });
    xFreeGlobals();
    xSetDprintfOutput(nullptr);
    glb = nullptr;
    sglb = nullptr;
    if (!quiet || !leaks.empty())
        std::printf("leak list (%s): %s\n%s", who, leaks.empty() ? "empty" : "NOT EMPTY", leaks.c_str());
    std::fflush(stdout);
    return leaks.empty();
}

// Asks a child process to finish (SIGTERM) and waits for it, at most ms;
// killed after that. Its exit status, or -1.
int Stop(pid_t pid, int ms = 20000)
{
    kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < ms / 10; ++i) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
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

// The accepted connections of a server; node says which packets they carry.
struct Accepted {
    std::vector<std::unique_ptr<CCommRemoteClient>> conns;
    std::vector<CCommRemoteClient*> unrouted; // node mode: not yet narrowed to their client's node
    bool node = false;

    static int32_t Take(CCommRemoteServerBase* s, void* user, int32_t)
    {
        auto* self = static_cast<Accepted*>(user);
        auto c = std::make_unique<CCommRemoteClient>();
        c->SetPacketTypes(self->node ? 0 : 1, self->node ? 1 : 0);
        // The clients' nodes are the server's business only: neither their
        // registrations nor their messages are passed on to the other
        // clients (left so, every client would hear of every other).
        c->SetNeverRouteNode_From_Client(1);
        if (!c->Startup() || !c->SetConnectFromServer(s))
            return FALSE;
        if (self->node)
            self->unrouted.push_back(c.get());
        self->conns.push_back(std::move(c));
        return TRUE;
    }
    // A node sends on every connection it is registered with, and every
    // node is registered with every connection: left so, each answer would
    // go out to all clients. Once a client has announced its node, the
    // connection keeps only the answering node of that address.
    void Route(const std::vector<std::unique_ptr<CCommNode>>& answer)
    {
        for (size_t i = 0; i < unrouted.size(); ++i) {
            CCommRemoteClient* c = unrouted[i];
            if (c->IsConnected() == 1) {
                c->OtherSideNodes_First();
                if (!c->OtherSideNodes_Exists())
                    continue;
                uint32_t id = c->OtherSideNodes_Get()->nodeId;
                for (auto& n : answer)
                    if (n->GetId() != id)
                        c->UnregisterCommNode(n.get());
            }
            unrouted[i--] = unrouted.back();
            unrouted.pop_back();
        }
    }
    // Clients that left are released (their descriptors closed).
    void DropGone()
    {
        auto gone = [](CCommRemoteClient* c) { return c->IsConnected() == 0; };
        unrouted.erase(std::remove_if(unrouted.begin(), unrouted.end(), gone), unrouted.end());
        conns.erase(
            std::remove_if(conns.begin(), conns.end(),
                           [&](const std::unique_ptr<CCommRemoteClient>& c) { return gone(c.get()); }),
            conns.end());
    }
    void Close()
    {
        for (auto& c : conns)
            if (c->IsConnected() == 1)
                c->Disconnect();
        unrouted.clear();
        conns.clear();
    }
};

constexpr uint32_t kFirstNodeId = 1000;

using tvhelp::TakeMessage;

bool StartNode(CCommNode& node, uint32_t index, uint32_t type)
{
    node.SetId(kFirstNodeId + index);
    node.SetInAckMode(FALSE);
    node.SetOutAckMode(FALSE);
    return node.SetName("load") == TRUE && node.InitCommNode(type) == TRUE;
}

// The server: answers every message, raw ones on the connection they came
// on, node messages from the node of the sender's address (nodes > 0 of
// them). Runs until asked to stop, then prints its leak list.
[[noreturn]] void Serve(uint16_t port, int nodes)
{
    Start();
    {
        std::vector<std::unique_ptr<CCommNode>> answer;
        for (int i = 0; i < nodes; ++i) {
            answer.push_back(std::make_unique<CCommNode>());
            if (!StartNode(*answer.back(), static_cast<uint32_t>(i), CNODE_SERVER))
                _exit(2);
        }
        Accepted accepted;
        accepted.node = nodes > 0;
        CCommRemoteServer server;
        server.SetPort(port);
        server.SetCallbackFunction(Accepted::Take, &accepted, 0);
        if (!server.Startup() || !server.StartListen() || !server.NonBlockedStartListenHandler())
            _exit(2);
        std::string text;
        while (!g_stop) {
            for (int i = 0; i < 32; ++i)
                server.NonBlockedHandler();
            xCommClientRounds(1);
            for (auto& c : accepted.conns) {
                char* data = nullptr;
                uint32_t size = 0;
                while (!accepted.node && c->IsConnected() == 1 && c->RecvRawData(data, size)) {
                    c->SendRawData(data, size);
                    xFreeMem(data, __FILE__, __LINE__);
                }
            }
            for (auto& n : answer)
                while (TakeMessage(*n, text)) {
                    n->SendInit();
                    n->SendPacket(text.data(), static_cast<uint32_t>(text.size()));
                }
            accepted.Route(answer);
            accepted.DropGone();
            xWaitTimeOrSockets(1);
        }
        accepted.Close();
        for (auto& n : answer)
            n->ExitCommNode();
    }
    _exit(Finish("server process") ? 0 : 1);
}

// The relay proxy: runs until asked to stop, then prints its leak list.
[[noreturn]] void Relay(uint16_t port)
{
    Start();
    {
        CCommProxyServer proxy;
        if (!proxy.Startup(port, 0))
            _exit(2);
        while (!g_stop) {
            int32_t finished = 0;
            proxy.Handler(finished);
            xWaitTimeOrSockets(1);
        }
        proxy.Closedown();
    }
    _exit(Finish("relay proxy process") ? 0 : 1);
}

// ---------------------------------------------------------------- node mode

// What the client processes of the node mode share with the parent.
struct NodeShared {
    int go, stop;
    uint64_t connected, sent, received, lost, wrong, failed, leaky;
    uint64_t maxUs;
    static constexpr uint32_t kBuckets = 500000; // 10 us each, up to 5 s
    uint64_t buckets[kBuckets];

    void Add(uint64_t& counter, uint64_t n = 1) { __atomic_fetch_add(&counter, n, __ATOMIC_RELAXED); }
    int Get(const int& flag) const { return __atomic_load_n(&flag, __ATOMIC_ACQUIRE); }
    void RoundTrip(uint64_t us)
    {
        Add(buckets[std::min<uint64_t>(us / 10, kBuckets - 1)]);
        uint64_t m = __atomic_load_n(&maxUs, __ATOMIC_RELAXED);
        while (us > m &&
               !__atomic_compare_exchange_n(&maxUs, &m, us, true, __ATOMIC_RELAXED, __ATOMIC_RELAXED)) {
        }
    }
    // The round trip below which a share p of them lie, in ms.
    double Percentile(double p) const
    {
        uint64_t total = 0;
        for (uint64_t b : buckets)
            total += b;
        uint64_t want = static_cast<uint64_t>(p * static_cast<double>(total)), seen = 0;
        for (uint32_t i = 0; i < kBuckets; ++i) {
            seen += buckets[i];
            if (seen > want)
                return (i + 1) * 0.01;
        }
        return kBuckets * 0.01;
    }
};

// One client program with `count` clients (first, first + 1, ...): each a
// node of its own address and a connection of its own to the server, one
// message in flight until told to stop. Exits 0 when its leak list is
// empty.
[[noreturn]] void NodeClients(int first, int count, uint16_t port, NodeShared* sh)
{
    Start();
    bool ok = true;
    {
        struct Client {
            CCommNode node;
            CCommRemoteClient c;
            int index = 0;
            uint32_t n = 0;
            std::string text;
            Clock::time_point sentAt{};
            bool waiting = false, done = false;
        };
        std::vector<std::unique_ptr<Client>> cs;
        for (int k = 0; k < count; ++k) {
            cs.push_back(std::make_unique<Client>());
            Client& cl = *cs.back();
            cl.index = first + k;
            cl.c.SetPacketTypes(0, 1);
            // The server's nodes are each for one connection of this
            // process: none is passed on to the others.
            cl.c.SetNeverRouteNode_From_Server(1);
            if (!cl.c.Startup() || !cl.c.SetRemoteLocation("127.0.0.1", port))
                _exit(2);
        }
        // Connect every connection (retrying while the listen queue is
        // full) before any node exists, then give each node to its own
        // connection only; then wait until the server's node of each
        // address is known.
        auto begin = Clock::now();
        auto allConnected = [&] {
            for (auto& cl : cs)
                if (cl->c.IsConnected() != 1)
                    return false;
            return true;
        };
        while (!allConnected() && Clock::now() - begin < std::chrono::seconds(180)) {
            for (auto& cl : cs)
                if (cl->c.IsConnected() == 0) {
                    if (cl->c.GetSocket() == INVALID_SOCKET)
                        cl->c.Connect();
                    if (!cl->c.NonBlockedConnectHandler())
                        cl->c.Connect();
                }
            xCommClientRounds(1);
            usleep(20000 + (first % 17) * 1000);
        }
        for (auto& cl : cs) {
            for (auto& other : cs)
                other->c.SetPacketTypes(0, other.get() == cl.get() ? 1 : 0);
            if (!StartNode(cl->node, static_cast<uint32_t>(cl->index), CNODE_CLIENT))
                _exit(2);
        }
        for (auto& cl : cs)
            cl->c.SetPacketTypes(0, 1);
        auto serverKnown = [&] {
            for (auto& cl : cs)
                if (cl->c.IsConnected() != 1 ||
                    cl->c.HasOtherSideNode("load", 4, kFirstNodeId + static_cast<uint32_t>(cl->index),
                                           CNODE_CLIENT) != TRUE)
                    return false;
            return true;
        };
        // Sleeps on the sockets: a thousand processes polling every few ms
        // would swamp the machine.
        while (!serverKnown() && Clock::now() - begin < std::chrono::seconds(180)) {
            xCommClientRounds(1);
            xWaitTimeOrSockets(50);
        }
        if (!serverKnown()) {
            std::printf("clients %d-%d: not all connected after 180 s: %s\n", first, first + count - 1,
                        cs.front()->c.GetErrorMessage());
            _exit(3);
        }
        sh->Add(sh->connected, static_cast<uint64_t>(count));
        while (!sh->Get(sh->go) && !sh->Get(sh->stop)) {
            xCommClientRounds(1);
            xWaitTimeOrSockets(50);
        }
        // Each client sends its next message once the last one is answered;
        // an answer still under way when the run ends has 10 s to come.
        std::string got;
        Clock::time_point stopSeen{};
        int busy = count;
        while (busy > 0 && ok) {
            const bool stopping = sh->Get(sh->stop);
            if (stopping && stopSeen == Clock::time_point{})
                stopSeen = Clock::now();
            for (auto& clp : cs) {
                Client& cl = *clp;
                if (cl.done)
                    continue;
                if (cl.waiting) {
                    while (TakeMessage(cl.node, got)) {
                        if (got != cl.text) {
                            sh->Add(sh->wrong);
                            continue;
                        }
                        cl.waiting = false;
                        sh->Add(sh->received);
                        sh->RoundTrip(static_cast<uint64_t>(
                            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - cl.sentAt)
                                .count()));
                    }
                }
                if (cl.waiting && cl.c.IsConnected() == 0) {
                    sh->Add(sh->failed);
                    std::printf("client %d: connection dropped: %s\n", cl.index, cl.c.GetErrorMessage());
                    ok = false;
                    break;
                }
                if (cl.waiting && stopping && Clock::now() - stopSeen > std::chrono::seconds(10)) {
                    sh->Add(sh->lost);
                    cl.done = true;
                } else if (!cl.waiting && stopping) {
                    cl.done = true;
                } else if (!cl.waiting) {
                    cl.text = "message " + std::to_string(cl.index) + "/" + std::to_string(cl.n++);
                    cl.sentAt = Clock::now();
                    if (!cl.node.SendInit() ||
                        !cl.node.SendPacket(cl.text.data(), static_cast<uint32_t>(cl.text.size()))) {
                        sh->Add(sh->failed);
                        ok = false;
                        break;
                    }
                    sh->Add(sh->sent);
                    cl.waiting = true;
                }
                if (cl.done)
                    --busy;
            }
            if (busy > 0 && ok) {
                xCommClientRounds(1);
                xWaitTimeOrSockets(50);
            }
        }
        for (auto& cl : cs) {
            if (cl->c.IsConnected() == 1)
                cl->c.Disconnect();
            cl->node.ExitCommNode();
        }
    }
    if (!Finish("node client process", true)) {
        sh->Add(sh->leaky);
        ok = false;
    }
    _exit(ok ? 0 : 1);
}

int NodeLoad(int clients, int seconds, int perProcess)
{
    auto* sh = static_cast<NodeShared*>(
        mmap(nullptr, sizeof(NodeShared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    if (sh == MAP_FAILED)
        return 3;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    uint16_t port = FreePort();
    std::fflush(stdout);
    pid_t server = fork();
    if (server == 0)
        Serve(port, clients);
    usleep(500000);
    const int fdStart = OpenDescriptors(server);
    const long rssStart = RssKb(server);

    auto connectStart = Clock::now();
    std::vector<pid_t> kids;
    for (int i = 0; i < clients; i += perProcess) {
        pid_t pid = fork();
        if (pid == 0)
            NodeClients(i, std::min(perProcess, clients - i), port, sh);
        if (pid > 0)
            kids.push_back(pid);
        usleep(2000);
    }
    while (__atomic_load_n(&sh->connected, __ATOMIC_RELAXED) < static_cast<uint64_t>(clients) &&
           Clock::now() - connectStart < std::chrono::seconds(200))
        usleep(100000);
    const uint64_t connected = __atomic_load_n(&sh->connected, __ATOMIC_RELAXED);
    std::printf("%llu of %d clients (%d a process) connected in %.1f s\n",
                static_cast<unsigned long long>(connected), clients, perProcess,
                std::chrono::duration<double>(Clock::now() - connectStart).count());
    const long rssConnected = RssKb(server);
    const int fdDuring = OpenDescriptors(server);

    __atomic_store_n(&sh->go, 1, __ATOMIC_RELEASE);
    auto start = Clock::now();
    long rssPeak = rssConnected;
    while (Clock::now() - start < std::chrono::seconds(seconds)) {
        usleep(500000);
        rssPeak = std::max(rssPeak, RssKb(server));
    }
    const uint64_t receivedInRun = __atomic_load_n(&sh->received, __ATOMIC_RELAXED);
    double secs = std::chrono::duration<double>(Clock::now() - start).count();
    const long rssEnd = RssKb(server);
    __atomic_store_n(&sh->stop, 1, __ATOMIC_RELEASE);
    int exitedBadly = 0;
    for (pid_t pid : kids) {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            ++exitedBadly;
    }
    int fdEnd = -1;
    for (int i = 0; i < 200; ++i) {
        usleep(50000);
        fdEnd = OpenDescriptors(server);
        if (fdEnd == fdStart)
            break;
    }
    const long rssAfter = RssKb(server);

    std::printf("%d node clients (%d a process), %.0f s: sent %llu, answered %llu, lost %llu, wrong %llu, "
                "connections failed %llu\n",
                clients, perProcess, secs, static_cast<unsigned long long>(sh->sent),
                static_cast<unsigned long long>(sh->received), static_cast<unsigned long long>(sh->lost),
                static_cast<unsigned long long>(sh->wrong), static_cast<unsigned long long>(sh->failed));
    std::printf("%.0f node messages/s (round trips answered during the run)\n", receivedInRun / secs);
    std::printf("round trip ms: p50 %.2f  p90 %.2f  p99 %.2f  p99.9 %.2f  max %.2f\n", sh->Percentile(0.5),
                sh->Percentile(0.9), sh->Percentile(0.99), sh->Percentile(0.999), sh->maxUs / 1000.0);
    std::printf(
        "server RSS: start %ld KB, clients connected %ld KB, peak %ld KB, end of run %ld KB, after they "
        "left %ld KB\n",
        rssStart, rssConnected, rssPeak, rssEnd, rssAfter);
    std::printf("server descriptors: start %d, with clients %d, after they left %d\n", fdStart, fdDuring,
                fdEnd);
    std::printf("client processes with a leak list not empty: %llu; ended badly: %d\n",
                static_cast<unsigned long long>(sh->leaky), exitedBadly);
    std::fflush(stdout);
    const int serverStatus = Stop(server);
    bool good = connected == static_cast<uint64_t>(clients) && sh->lost == 0 && sh->wrong == 0 &&
                sh->failed == 0 && exitedBadly == 0 && fdEnd == fdStart && serverStatus == 0;
    munmap(sh, sizeof(NodeShared));
    return good ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const bool soak = argc > 3 && std::strcmp(argv[3], "soak") == 0;
    if (argc > 3 && std::strcmp(argv[3], "node") == 0)
        return NodeLoad(clients, seconds, argc > 4 ? std::max(1, std::atoi(argv[4])) : 1);
    uint16_t port = FreePort(soak);
    pid_t server = fork();
    if (server == 0)
        Serve(port, 0);
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
        return rtts.empty() ? 0.0
                            : rtts[std::min(rtts.size() - 1, static_cast<size_t>(p * rtts.size()))] / 1000.0;
    };
    std::printf("%d clients%s, %.0f s: sent %llu, received %llu, lost %d, %.0f messages/s, reconnects %llu\n",
                clients, soak ? " through the proxy with random disconnects" : "", secs,
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(messages), lost,
                messages / secs, static_cast<unsigned long long>(reconnects));
    std::printf("round trip ms: p50 %.2f  p90 %.2f  p99 %.2f  max %.2f\n", pct(0.5), pct(0.9), pct(0.99),
                pct(1.0));
    std::printf("server RSS: start %ld KB, clients connected %ld KB, end %ld KB\n", rssStart, rssConnected,
                rssEnd);
    std::printf("server descriptors: start %d, with clients %d, after they left %d\n", fdStart, fdDuring,
                fdEnd);
    std::fflush(stdout);
    // The server and the relay end their rounds and print their leak lists.
    const bool serverClean = Stop(server) == 0;
    const bool relayClean = relay <= 0 || Stop(relay) == 0;
    const bool clientClean = Finish("client process");
    return fdEnd == fdStart && lost == 0 && serverClean && relayClean && clientClean ? 0 : 1;
}
