// A redis-server of the test's (or benchmark's) own: on 127.0.0.1, a port
// chosen free at run time, nothing saved, in a scratch folder, killed and
// cleaned up with the object. Plain POSIX, no test framework: the
// benchmarks use it too.
#pragma once

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tvtest
{

class RedisServer
{
  public:
    // Whether a redis-server can be started at all (on the PATH).
    static bool Available()
    {
        const char* path = std::getenv("PATH");
        std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
        for (size_t at = 0; at <= dirs.size();) {
            size_t end = dirs.find(':', at);
            if (end == std::string::npos)
                end = dirs.size();
            const std::string file = dirs.substr(at, end - at) + "/redis-server";
            if (access(file.c_str(), X_OK) == 0)
                return true;
            at = end + 1;
        }
        return false;
    }

    // Starts the server and waits (at most 5 s) until it takes connections.
    bool Start()
    {
        char dir[] = "/tmp/tvredisXXXXXX";
        if (mkdtemp(dir) == nullptr)
            return false;
        folder = dir;
        for (int attempt = 0; attempt < 5 && pid < 0; ++attempt) {
            port = FreePort();
            if (port == 0)
                continue;
            pid = fork();
            if (pid == 0) {
                const int log = open((folder + "/redis.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (log >= 0) {
                    dup2(log, 1);
                    dup2(log, 2);
                }
                const std::string p = std::to_string(port);
                execlp("redis-server", "redis-server", "--port", p.c_str(), "--bind", "127.0.0.1", "--save",
                       "", "--appendonly", "no", "--dir", folder.c_str(), static_cast<char*>(nullptr));
                _exit(127);
            }
            if (pid < 0 || !WaitListening()) {
                Stop();
                port = 0;
            }
        }
        return pid > 0;
    }

    void Stop()
    {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }

    ~RedisServer()
    {
        Stop();
        if (!folder.empty()) {
            unlink((folder + "/redis.log").c_str());
            rmdir(folder.c_str());
        }
    }

    std::string Address() const { return "127.0.0.1:" + std::to_string(port); }
    uint16_t port = 0;

  private:
    static uint16_t FreePort()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        uint16_t p = 0;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            p = ntohs(a.sin_port);
        if (fd >= 0)
            close(fd);
        return p;
    }

    // True once a connection to the port succeeds; false when the server
    // exited (the port was taken meanwhile) or 5 s passed.
    bool WaitListening()
    {
        for (int i = 0; i < 500; ++i) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                pid = -1;
                return false;
            }
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(port);
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool up = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            if (fd >= 0)
                close(fd);
            if (up)
                return true;
            usleep(10000);
        }
        return false;
    }

    pid_t pid = -1;
    std::string folder;
};

} // namespace tvtest
