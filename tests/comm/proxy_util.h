// Helpers of the relay proxy tests: a fixture with the comm registries and
// the manual clock, a proxy pumped round by round, real peers (a forked echo
// server handling many connections, programs such as socat and openssl run
// with their output captured), raw non-blocking clients and hand-made
// location records.
#pragma once

#include "comm_util.h"
#include "../support/comm_helpers.h"
#include "../support/process_util.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace tvproxy
{

using tvtest::LastError;

// ---------------------------------------------------------------- processes

using tvtest::Program;

// A function run in a forked child (never returning into the test). The
// child keeps only the descriptors named: a copy of a proxy socket would keep
// its connection open after the proxy closed it.
class Forked
{
  public:
    template <class F> explicit Forked(F body, std::vector<int> keep = {})
    {
        pid = fork();
        if (pid == 0) {
            alarm(120); // a peer never outlives a stuck test
            long limit = sysconf(_SC_OPEN_MAX);
            for (int fd = 3; fd < limit; ++fd)
                if (std::find(keep.begin(), keep.end(), fd) == keep.end())
                    close(fd);
            body();
            _exit(0);
        }
    }
    ~Forked() { Stop(); }
    Forked(const Forked&) = delete;
    Forked& operator=(const Forked&) = delete;
    // Waits for the child's end (at most timeoutMs); its exit status or -1.
    int Wait(int timeoutMs = 20000)
    {
        int status = 0;
        for (int i = 0; i < timeoutMs / 5; ++i) {
            if (pid <= 0 || waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(5000);
        }
        return -1;
    }
    void Stop()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    pid_t pid = -1;
};

// ---------------------------------------------------------------- sockets

// A listening socket on 127.0.0.1; port 0 picks a free one (returned).
inline int ListenOn(uint16_t& port, int backlog = 1024) { return tvhelp::ListenLoopback(port, backlog); }

// A free port below 32768 (the ports a location record from our own clients
// can name), found by trying random ones.
inline uint16_t LowFreePort()
{
    std::mt19937 rng(static_cast<uint32_t>(getpid()) * 7919u + static_cast<uint32_t>(time(nullptr)));
    for (int i = 0; i < 200; ++i) {
        uint16_t p = static_cast<uint16_t>(20000 + rng() % 12000);
        uint16_t q = p;
        int fd = ListenOn(q, 1);
        if (fd >= 0) {
            close(fd);
            return p;
        }
    }
    return 0;
}

inline uint16_t FreePort()
{
    uint16_t p = 0;
    int fd = ListenOn(p, 1);
    close(fd);
    return p;
}

// A non-blocking connection to 127.0.0.1:port (the connect may be pending);
// a receive buffer of its own size when asked, and from a source address of
// its own (host order, any of 127.0.0.0/8) when given.
inline int DialNonBlocking(uint16_t port, int receiveBuffer = 0, uint32_t source = 0)
{
    return tvhelp::DialLoopback(port, receiveBuffer, source);
}

// The echo server: every byte that comes in goes back on the same
// connection; any number of connections. Runs until killed.
[[noreturn]] inline void EchoServe(int listenFd)
{
    signal(SIGPIPE, SIG_IGN);
    fcntl(listenFd, F_SETFL, O_NONBLOCK);
    std::vector<pollfd> fds{{listenFd, POLLIN, 0}};
    std::vector<std::string> pending{""};
    for (;;) {
        for (size_t i = 1; i < fds.size(); ++i)
            fds[i].events = static_cast<short>(POLLIN | (pending[i].empty() ? 0 : POLLOUT));
        if (poll(fds.data(), fds.size(), 1000) < 0 && errno != EINTR)
            _exit(3);
        if (fds[0].revents & POLLIN) {
            int c;
            while ((c = accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK)) >= 0) {
                fds.push_back({c, POLLIN, 0});
                pending.emplace_back();
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            bool gone = false;
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) {
                char buf[65536];
                ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0)
                    pending[i].append(buf, static_cast<size_t>(n));
                else if (n == 0 || (errno != EAGAIN && errno != EINTR))
                    gone = true;
            }
            if (!pending[i].empty()) {
                ssize_t n = write(fds[i].fd, pending[i].data(), pending[i].size());
                if (n > 0)
                    pending[i].erase(0, static_cast<size_t>(n));
                else if (n < 0 && errno != EAGAIN && errno != EINTR)
                    gone = true;
            }
            if (gone) {
                close(fds[i].fd);
                fds[i] = fds.back();
                fds.pop_back();
                pending[i] = std::move(pending.back());
                pending.pop_back();
                --i;
            }
        }
    }
}

// An echo server in a forked child on a free port (or the port asked for).
struct EchoServer {
    explicit EchoServer(uint16_t wanted = 0) : port(wanted)
    {
        int fd = ListenOn(port);
        if (fd < 0) {
            port = 0;
            return;
        }
        child = std::make_unique<Forked>([fd] { EchoServe(fd); }, std::vector<int>{fd});
        close(fd);
    }
    uint16_t port;
    std::unique_ptr<Forked> child;
};

// ---------------------------------------------------------------- records and clients

// A 48-byte location record written by hand: magic, host field and port
// field taken as they are (cut or zero-padded to their widths).
inline std::string Record(const std::string& magic, const std::string& host, const std::string& port)
{
    std::string r(48, '\0');
    r.replace(0, std::min<size_t>(magic.size(), 4), magic.substr(0, 4));
    r.replace(12, std::min<size_t>(host.size(), 30), host.substr(0, 30));
    r.replace(42, std::min<size_t>(port.size(), 6), port.substr(0, 6));
    return r;
}
inline std::string Record(const std::string& host, uint32_t port)
{
    return Record("PLOC", host, std::to_string(port));
}

// A raw client: writes out as the socket takes it and collects what comes
// back. Step() never blocks.
struct RawClient {
    int fd = -1;
    std::string out;
    size_t sent = 0;
    std::string in;
    bool eof = false;
    bool failed = false;

    explicit RawClient(uint16_t port, int receiveBuffer = 0, uint32_t source = 0)
        : fd(DialNonBlocking(port, receiveBuffer, source))
    {
    }
    ~RawClient()
    {
        if (fd >= 0)
            close(fd);
    }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void Step()
    {
        if (fd < 0)
            return;
        if (sent < out.size()) {
            ssize_t n = send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (n > 0)
                sent += static_cast<size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != ENOTCONN)
                failed = true;
        }
        char buf[65536];
        for (int i = 0; i < 4 && !eof; ++i) {
            ssize_t n = recv(fd, buf, sizeof buf, 0);
            if (n > 0)
                in.append(buf, static_cast<size_t>(n));
            else if (n == 0)
                eof = true;
            else {
                if (errno != EAGAIN && errno != ENOTCONN) {
                    eof = true;
                    failed = true;
                }
                break;
            }
        }
    }
    void Close()
    {
        if (fd >= 0)
            close(fd);
        fd = -1;
    }
};

// FNV-1a over bytes, continued from h.
inline uint64_t Fnv(const char* p, size_t n, uint64_t h = 1469598103934665603ull)
{
    for (size_t i = 0; i < n; ++i) {
        h ^= static_cast<uint8_t>(p[i]);
        h *= 1099511628211ull;
    }
    return h;
}

// Deterministic bytes: block i of a stream with the given seed.
inline void StreamBlock(uint32_t seed, uint64_t index, char* out, size_t n)
{
    uint64_t x =
        (static_cast<uint64_t>(seed) << 32) ^ (index * 0x9E3779B97F4A7C15ull) ^ 0xD1B54A32D192ED03ull;
    for (size_t i = 0; i < n; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        out[i] = static_cast<char>(x);
    }
}

// ---------------------------------------------------------------- the fixture

class ProxyTest : public tvtest::CommTest
{
  protected:
    void SetUp() override
    {
        tvtest::CommTest::SetUp();
        tvp::TestSetManualClock(true, 5000000);
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        tvtest::CommTest::TearDown();
    }

    // Rounds of the proxy until done() (checked after every round) or the
    // rounds run out; the manual clock advances by stepMs a round.
    template <class F> bool Pump(CCommProxyServer& proxy, F done, int rounds = 4000, uint32_t stepMs = 10)
    {
        for (int i = 0; i < rounds; ++i) {
            int32_t finished = 0;
            EXPECT_EQ(proxy.Handler(finished), TRUE) << LastError();
            if (done())
                return true;
            xWaitTimeOrSockets(1);
            tvp::TestAdvanceClock(stepMs);
        }
        return false;
    }

    // A started proxy on a free port.
    bool Start(CCommProxyServer& proxy)
    {
        if (!proxy.Startup(0, 0))
            return false;
        port = proxy.GetBoundPort();
        return port != 0;
    }

    uint16_t port = 0;
};

} // namespace tvproxy
