// Child processes for tests that talk to real programs (openssl, socat and
// the like): a program with its input and output on pipes, stopped at the end
// of the test whatever happened, and the self-signed certificate the TLS
// tests share (made once per test program in its scratch folder).
#pragma once

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tvtest
{

// A program with its standard input on a pipe and its standard output (and
// error, when asked) captured; stopped at the end of the test.
class Program
{
  public:
    explicit Program(std::vector<std::string> args, bool captureErrors = false)
    {
        int in[2], out[2];
        if (pipe(in) != 0 || pipe(out) != 0)
            return;
        pid = fork();
        if (pid == 0) {
            dup2(in[0], 0);
            dup2(out[1], 1);
            if (captureErrors)
                dup2(out[1], 2);
            else {
                int devnull = open("/dev/null", O_WRONLY);
                dup2(devnull, 2);
            }
            long limit = sysconf(_SC_OPEN_MAX);
            for (int fd = 3; fd < limit; ++fd)
                close(fd);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        toProgram = in[1];
        fromProgram = out[0];
        fcntl(fromProgram, F_SETFL, O_NONBLOCK);
    }
    ~Program() { Stop(); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    void Stop()
    {
        if (toProgram >= 0)
            close(toProgram);
        if (fromProgram >= 0)
            close(fromProgram);
        toProgram = fromProgram = -1;
        if (pid <= 0)
            return;
        kill(pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 200 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            usleep(10000);
        if (waitpid(pid, &status, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
        }
        pid = -1;
    }

    bool Write(const std::string& bytes)
    {
        return write(toProgram, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // Takes what the program has written so far.
    void Drain()
    {
        char buf[4096];
        ssize_t n;
        while (fromProgram >= 0 && (n = read(fromProgram, buf, sizeof buf)) > 0)
            output.append(buf, static_cast<size_t>(n));
    }
    // Reads output until it contains needle (at most timeoutMs of real time).
    bool ReadUntil(const std::string& needle, int timeoutMs = 10000)
    {
        for (int waited = 0; output.find(needle) == std::string::npos; waited += 5) {
            if (waited >= timeoutMs)
                return false;
            Drain();
            usleep(5000);
        }
        return true;
    }

    pid_t pid = -1;
    int toProgram = -1;
    int fromProgram = -1;
    std::string output;
};

// Makes "cert.pem" and "key.pem" (self-signed, CN localhost) in the current
// folder unless they are there; true when both can be read.
inline bool MakeTestCertificate()
{
    if (access("cert.pem", R_OK) == 0 && access("key.pem", R_OK) == 0)
        return true;
    Program req({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
                 "-days", "1", "-keyout", "key.pem", "-out", "cert.pem"});
    int status = 0;
    for (int i = 0; i < 3000 && waitpid(req.pid, &status, WNOHANG) == 0; ++i)
        usleep(10000);
    req.pid = -1;
    return access("cert.pem", R_OK) == 0 && access("key.pem", R_OK) == 0;
}

} // namespace tvtest
