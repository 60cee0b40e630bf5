// Relay proxy benchmark: a bulk transfer and the round trip of small
// messages through our proxy and through socat (with -b 4096, our chunk
// size, and with its default), between the same two loopback endpoints, in
// one run, interleaved, several times; prints MB/s, microseconds and the
// median ratios. Each relay runs in a process of its own. With
// PROXY_BENCH_FIFO=1 (as root) all of it runs at a fixed real-time priority,
// away from the noise of other work on the machine.
#include <tarvex/tarvex.h>

#include "relays.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr size_t kBulk = 256u * 1024 * 1024;
constexpr size_t kMessage = 64;
constexpr int kRoundTrips = 5000;
constexpr int kRepeats = 5;

using Clock = std::chrono::steady_clock;

int Dial(uint16_t port)
{
    for (int i = 0; i < 500; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            return fd;
        }
        close(fd);
        usleep(10000);
    }
    return -1;
}

bool WriteAll(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t k = write(fd, p, n);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool ReadAll(int fd, char* p, size_t n)
{
    while (n > 0) {
        ssize_t k = read(fd, p, n);
        if (k <= 0)
            return false;
        p += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

// The destination: per connection, the first byte picks the work: 'B' reads
// kBulk bytes and answers one byte, 'E' echoes until the end.
[[noreturn]] void Destination(int listenFd)
{
    std::vector<char> buf(1 << 16);
    for (;;) {
        int c = accept(listenFd, nullptr, nullptr);
        if (c < 0)
            continue;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        char mode = 0;
        if (ReadAll(c, &mode, 1) && mode == 'B') {
            size_t left = kBulk;
            while (left > 0) {
                ssize_t k = read(c, buf.data(), std::min(left, buf.size()));
                if (k <= 0)
                    break;
                left -= static_cast<size_t>(k);
            }
            WriteAll(c, "!", 1);
        } else if (mode == 'E') {
            ssize_t k;
            while ((k = read(c, buf.data(), buf.size())) > 0)
                WriteAll(c, buf.data(), static_cast<size_t>(k));
        }
        close(c);
    }
}

struct Relay {
    const char* name;
    uint16_t port;
    bool record; // sends a location record first
};

// Opens a connection through the relay to the destination.
int Open(const Relay& r, uint16_t destPort)
{
    int fd = Dial(r.port);
    if (fd >= 0 && r.record) {
        CProxyLocation loc;
        loc.SetLocation("127.0.0.1", destPort);
        WriteAll(fd, reinterpret_cast<const char*>(&loc), sizeof loc);
    }
    return fd;
}

double BulkMBps(const Relay& r, uint16_t destPort)
{
    std::vector<char> block(1 << 16, 'x');
    auto start = Clock::now();
    int fd = Open(r, destPort);
    if (fd < 0 || !WriteAll(fd, "B", 1))
        return 0;
    size_t left = kBulk;
    while (left > 0) {
        size_t n = std::min(left, block.size());
        if (!WriteAll(fd, block.data(), n))
            return 0;
        left -= n;
    }
    char ack = 0;
    bool ok = ReadAll(fd, &ack, 1);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return ok ? static_cast<double>(kBulk) / (1024.0 * 1024.0) / s : 0;
}

double RoundTripUs(const Relay& r, uint16_t destPort)
{
    int fd = Open(r, destPort);
    char msg[kMessage], back[kMessage];
    std::memset(msg, 'm', sizeof msg);
    if (fd < 0 || !WriteAll(fd, "E", 1))
        return 0;
    // A few warm-up exchanges (the proxy connects to the destination first).
    for (int i = 0; i < 20; ++i)
        if (!WriteAll(fd, msg, sizeof msg) || !ReadAll(fd, back, sizeof back))
            return 0;
    auto start = Clock::now();
    for (int i = 0; i < kRoundTrips; ++i)
        if (!WriteAll(fd, msg, sizeof msg) || !ReadAll(fd, back, sizeof back))
            return 0;
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    return s * 1e6 / kRoundTrips;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main()
{
    signal(SIGPIPE, SIG_IGN);
    // On a shared, busy machine the scheduler's noise swamps a round trip of
    // tens of microseconds. PROXY_BENCH_FIFO=1 runs every process of the
    // benchmark (the relays, both ends) at one fixed real-time priority.
    if (std::getenv("PROXY_BENCH_FIFO") != nullptr) {
        sched_param p{};
        p.sched_priority = 10;
        if (sched_setscheduler(0, SCHED_FIFO, &p) != 0)
            std::printf("PROXY_BENCH_FIFO: no real-time priority (%s), normal scheduling\n",
                        std::strerror(errno));
        else
            std::printf("all processes at real-time priority 10 (SCHED_FIFO)\n");
    }
    // A location record names ports below 32768 only.
    uint16_t destPort = 0;
    int destFd = -1;
    for (uint32_t i = 0; destFd < 0 && i < 200; ++i) {
        destPort = static_cast<uint16_t>(20000 + (static_cast<uint32_t>(getpid()) * 131 + i * 977) % 12000);
        destFd = Listen(destPort);
    }
    if (destFd < 0)
        return 1;
    pid_t dest = fork();
    if (dest == 0)
        Destination(destFd);
    close(destFd);

    uint16_t ourPort = 0, socatPort = 0, socatDefaultPort = 0;
    close(Listen(ourPort));
    close(Listen(socatPort));
    close(Listen(socatDefaultPort));
    pid_t ours = fork();
    if (ours == 0)
        OurProxy(ourPort);
    std::string target = "TCP:127.0.0.1:" + std::to_string(destPort) + ",nodelay";
    pid_t socat =
        Spawn({"socat", "-b", "4096",
               "TCP-LISTEN:" + std::to_string(socatPort) + ",bind=127.0.0.1,reuseaddr,fork,nodelay", target});
    pid_t socatDefault = Spawn(
        {"socat", "TCP-LISTEN:" + std::to_string(socatDefaultPort) + ",bind=127.0.0.1,reuseaddr,fork,nodelay",
         target});
    usleep(300000);

    const Relay relays[] = {{"tarvex proxy", ourPort, true},
                            {"socat -b 4096", socatPort, false},
                            {"socat default", socatDefaultPort, false}};
    std::vector<double> mbps[3], rtt[3], bulkRatio[2], rttRatio[2];
    for (int rep = 0; rep < kRepeats; ++rep) {
        double m[3], t[3];
        for (int i = 0; i < 3; ++i) {
            m[i] = BulkMBps(relays[i], destPort);
            t[i] = RoundTripUs(relays[i], destPort);
            mbps[i].push_back(m[i]);
            rtt[i].push_back(t[i]);
        }
        for (int i = 0; i < 2; ++i) {
            bulkRatio[i].push_back(m[i + 1] > 0 ? m[0] / m[i + 1] : 0);
            rttRatio[i].push_back(t[i + 1] > 0 ? t[0] / t[i + 1] : 0);
        }
    }
    std::printf("relay of %zu MB one way and %d round trips of %zu bytes, %d runs interleaved (medians):\n",
                kBulk >> 20, kRoundTrips, kMessage, kRepeats);
    for (int i = 0; i < 3; ++i)
        std::printf("%-26s bulk %8.1f MB/s   round trip %7.1f us\n", relays[i].name, Median(mbps[i]),
                    Median(rtt[i]));
    for (int i = 0; i < 2; ++i)
        std::printf("ours vs %-22s bulk ratio %.2f   round-trip ratio %.2f (lower is better)\n",
                    relays[i + 1].name, Median(bulkRatio[i]), Median(rttRatio[i]));

    for (pid_t p : {ours, socat, socatDefault, dest})
        kill(p, SIGKILL);
    for (pid_t p : {ours, socat, socatDefault, dest})
        waitpid(p, nullptr, 0);
    return 0;
}
