// Helpers of the FTP client tests: child processes for the real servers and
// the scripted fault server (started and stopped by the tests), free ports,
// the served files' contents, and a bounded frame loop that drives a client
// through xHandler and Update, on the real or the test clock.
#pragma once

#include "tarvex_test.h"

#include <platform/platform.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tvtest
{

// A program started by a test; stopped (SIGTERM, then SIGKILL) on destruction.
class Child
{
  public:
    Child() = default;
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() { Stop(); }

    // Starts argv[0] with the arguments; its standard output can be read
    // with ReadLine when capture is set, else it goes to /dev/null.
    bool Start(const std::vector<std::string>& argv, bool capture)
    {
        int fds[2] = {-1, -1};
        if (capture && pipe(fds) != 0)
            return false;
        pid_t pid = fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(capture ? fds[1] : null, 1);
            dup2(null, 2);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execv(args[0], args.data());
            _exit(127);
        }
        m_pid = pid;
        if (capture) {
            close(fds[1]);
            m_out = fds[0];
        }
        return true;
    }

    // One line of the child's output, waiting at most ms.
    bool ReadLine(std::string& line, int ms)
    {
        line.clear();
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            pollfd p{m_out, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            char c;
            if (read(m_out, &c, 1) != 1)
                return false;
            if (c == '\n')
                return true;
            line += c;
        }
        return false;
    }

    void Stop()
    {
        if (m_out >= 0)
            close(m_out);
        m_out = -1;
        if (m_pid <= 0)
            return;
        kill(m_pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                m_pid = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

  private:
    pid_t m_pid = -1;
    int m_out = -1;
};

// A loopback port that was free a moment ago.
inline uint16_t FreePort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

// Waits until something accepts connections on the port (of the loopback
// address unless another is given).
inline bool WaitForPort(uint16_t port, int ms = 10000, const char* host = "127.0.0.1")
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, host, &a.sin_addr);
        bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        close(fd);
        if (ok)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The bytes of the served files: byte i is (i * 131 + 7) % 251.
inline std::string Content(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 131 + 7) % 251);
    return s;
}

inline bool WriteWhole(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline bool ReadWhole(const std::string& path, std::string& bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

inline bool HaveProgram(const char* path) { return access(path, X_OK) == 0; }

inline std::string Here() { return std::filesystem::current_path().string(); }

// The real pause of one frame: the test clock runs at most ten times as fast
// as the real one, so a slow peer on a loaded machine still answers well
// within the client's time-outs.
inline int64_t RealPauseUs(uint32_t clockStep) { return clockStep * 100 > 500 ? clockStep * 100 : 500; }

// Runs frames (xHandler, then the client's Update) until done() holds, the
// client fails, or the frame or wall-time bound is reached. With clockStep
// non-zero the test clock advances by that much per frame.
template <class F>
bool Drive(CFtpClient& c, F done, int maxFrames = 400000, uint32_t clockStep = 0, int seconds = 90)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int i = 0; i < maxFrames; ++i) {
        xHandler();
        int32_t r = c.Update();
        if (done())
            return true;
        if (!r || c.state == FTPNOSTATE)
            return false;
        if (clockStep != 0)
            tvp::TestAdvanceClock(clockStep);
        if (c.state != FTPDOWNLOADDOWNLOADING || clockStep != 0)
            std::this_thread::sleep_for(std::chrono::microseconds(RealPauseUs(clockStep)));
        if ((i & 63) == 0 && std::chrono::steady_clock::now() > end)
            return false;
    }
    return false;
}

// Runs frames until the client has an error (state 0) or the bound is reached.
inline bool DriveToError(CFtpClient& c, int maxFrames = 100000, uint32_t clockStep = 0)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    for (int i = 0; i < maxFrames; ++i) {
        xHandler();
        c.Update();
        if (c.state == FTPNOSTATE)
            return true;
        if (clockStep != 0)
            tvp::TestAdvanceClock(clockStep);
        std::this_thread::sleep_for(std::chrono::microseconds(RealPauseUs(clockStep)));
        if ((i & 63) == 0 && std::chrono::steady_clock::now() > end)
            return false;
    }
    return false;
}

inline std::string ErrorText(CFtpClient& c)
{
    char* text = nullptr;
    char* function = nullptr;
    c.FtpGetErrorTxt(text, function);
    return text != nullptr ? text : "";
}

} // namespace tvtest
