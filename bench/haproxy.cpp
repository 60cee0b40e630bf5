// The relay tier behind HAProxy: new connections per second through one
// HAProxy (TCP mode, least connections) to three relays, each connection
// sending a short message to an echo destination and reading it back before
// it closes. Ours: three proxy processes taking the binary address header
// (send-proxy-v2) and a location record; the peer: three socat relays (one
// forked process per connection, no header), between the same endpoints,
// through two front ends of one HAProxy. Rounds interleaved; prints the
// rates and the median ratio. Needs haproxy and socat.
#include <tarvex/tarvex.h>

#include "relays.h"
#include "rounds.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int kRelays = 3;
constexpr int kConnections = 1000; // per round and side
constexpr int kAtOnce = 32;
constexpr int kRounds = 5;
constexpr size_t kMessage = 64;

uint16_t FreePort()
{
    uint16_t p = 0;
    int fd = Listen(p);
    close(fd);
    return p;
}

// The echo destination: any number of connections, in one process.
[[noreturn]] void Echo(int listenFd)
{
    fcntl(listenFd, F_SETFL, O_NONBLOCK);
    std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
    char buf[4096];
    for (;;) {
        poll(fds.data(), fds.size(), 1000);
        for (size_t i = fds.size(); i-- > 1;) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0 && write(fds[i].fd, buf, static_cast<size_t>(n)) == n)
                continue;
            if (n < 0 && errno == EAGAIN)
                continue;
            close(fds[i].fd);
            fds[i] = fds.back();
            fds.pop_back();
        }
        int c;
        while ((c = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0)
            fds.push_back({c, POLLIN, 0});
    }
}

template <class F> pid_t Fork(F body)
{
    pid_t pid = fork();
    if (pid == 0)
        body();
    return pid;
}

// The 48-byte location record naming 127.0.0.1:port.
std::string Record(uint16_t port)
{
    std::string r(48, '\0');
    r.replace(0, 4, "PLOC");
    r.replace(12, 9, "127.0.0.1");
    std::string p = std::to_string(port);
    r.replace(42, p.size(), p);
    return r;
}

struct Conn {
    int fd = -1;
    size_t sent = 0, got = 0;
};

int Dial(uint16_t port) { return tvhelp::DialLoopback(port, 0, 0, true); }

// n connections through the front end, kAtOnce at a time: each sends out
// and ends once kMessage bytes have come back. Returns the failures.
int Connections(uint16_t front, const std::string& out, int n)
{
    std::vector<Conn> live(kAtOnce);
    int started = 0, finished = 0, failed = 0;
    std::vector<pollfd> fds(kAtOnce);
    char buf[1024];
    while (finished < n) {
        for (auto& c : live)
            if (c.fd < 0 && started < n) {
                c = Conn{Dial(front), 0, 0};
                ++started;
                if (c.fd < 0) {
                    ++failed;
                    ++finished;
                }
            }
        for (size_t i = 0; i < live.size(); ++i) {
            fds[i].fd = live[i].fd;
            fds[i].events = static_cast<short>(POLLIN | (live[i].sent < out.size() ? POLLOUT : 0));
            fds[i].revents = 0;
        }
        // Ten seconds without any progress ends the round: whatever is left
        // counts as failed (and the round's rate means nothing).
        if (poll(fds.data(), fds.size(), 10000) <= 0)
            return failed + (n - finished);
        for (size_t i = 0; i < live.size(); ++i) {
            Conn& c = live[i];
            if (c.fd < 0 || fds[i].revents == 0)
                continue;
            bool done = false, bad = false;
            if ((fds[i].revents & POLLOUT) && c.sent < out.size()) {
                ssize_t k = send(c.fd, out.data() + c.sent, out.size() - c.sent, MSG_NOSIGNAL);
                if (k > 0)
                    c.sent += static_cast<size_t>(k);
                else if (k < 0 && errno != EAGAIN)
                    bad = true;
            }
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                ssize_t k = read(c.fd, buf, sizeof buf);
                if (k > 0)
                    c.got += static_cast<size_t>(k);
                else if (k == 0 || errno != EAGAIN)
                    bad = true;
                done = c.got >= kMessage;
            }
            if (done || bad) {
                close(c.fd);
                c.fd = -1;
                ++finished;
                failed += done ? 0 : 1;
            }
        }
    }
    return failed;
}

} // namespace

int main()
{
    std::signal(SIGPIPE, SIG_IGN);
    if (std::system("command -v haproxy >/dev/null && command -v socat >/dev/null") != 0) {
        std::printf("haproxy or socat not installed: skipped\n");
        return 0;
    }
    uint16_t echoPort = 0;
    int echoFd = Listen(echoPort, 1024);
    std::vector<pid_t> children;
    children.push_back(Fork([&] { Echo(echoFd); }));
    close(echoFd);

    uint16_t ours[kRelays], socats[kRelays];
    for (int i = 0; i < kRelays; ++i) {
        ours[i] = FreePort();
        children.push_back(Fork([&] { OurProxy(ours[i], true); }));
        socats[i] = FreePort();
        children.push_back(Spawn({"socat", "TCP-LISTEN:" + std::to_string(socats[i]) + ",fork,reuseaddr,nodelay",
                                  "TCP:127.0.0.1:" + std::to_string(echoPort) + ",nodelay"}));
    }
    uint16_t frontOurs = FreePort(), frontSocat = FreePort();
    char dir[] = "/tmp/tarvex-bench-haproxy-XXXXXX";
    if (mkdtemp(dir) == nullptr)
        return 1;
    std::string cfgPath = std::string(dir) + "/haproxy.cfg";
    {
        std::ofstream cfg(cfgPath);
        cfg << "global\n    maxconn 8192\ndefaults\n    mode tcp\n    timeout connect 2s\n"
               "    timeout client 30s\n    timeout server 30s\n    retries 3\n    option redispatch 1\n";
        cfg << "frontend ours\n    bind 127.0.0.1:" << frontOurs << "\n    default_backend ours\n";
        cfg << "frontend socat\n    bind 127.0.0.1:" << frontSocat << "\n    default_backend socat\n";
        cfg << "backend ours\n    balance leastconn\n    default-server inter 1s fall 2 rise 1\n";
        for (int i = 0; i < kRelays; ++i)
            cfg << "    server p" << i << " 127.0.0.1:" << ours[i] << " check send-proxy-v2\n";
        cfg << "backend socat\n    balance leastconn\n    default-server inter 1s fall 2 rise 1\n";
        for (int i = 0; i < kRelays; ++i)
            cfg << "    server s" << i << " 127.0.0.1:" << socats[i] << " check\n";
    }
    children.push_back(Spawn({"haproxy", "-db", "-f", cfgPath}));
    usleep(500000);

    const std::string message(kMessage, 'm');
    const std::string oursOut = Record(echoPort) + message;
    int failedOurs = 0, failedSocat = 0;
    RoundTimes t = TimeInterleaved(
        kRounds, 1, [&] { failedOurs += Connections(frontOurs, oursOut, kConnections); },
        [&] { failedSocat += Connections(frontSocat, message, kConnections); });
    auto rate = [](double s) { return kConnections / s; };
    std::printf("connections/s through HAProxy to %d relays (%d at once, %zu-byte echo each, %d rounds):\n",
                kRelays, kAtOnce, kMessage, kRounds);
    std::printf("  tarvex proxies (send-proxy-v2): %.0f (failed: %d)\n", MedianAs(t.ours, rate), failedOurs);
    std::printf("  socat relays (no header):       %.0f (failed: %d)\n", MedianAs(t.peer, rate), failedSocat);
    std::printf("  median ratio ours/socat: %.2f\n", MedianOf(t.ratios));

    for (pid_t pid : children)
        kill(pid, SIGTERM);
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    unlink(cfgPath.c_str());
    rmdir(dir);
    return failedOurs == 0 ? 0 : 1;
}
