// Helpers of the end-to-end tests that run in a real X server: each such test
// starts its own program again under xvfb-run and drives the window there
// with xdotool.
#pragma once

#include "tarvex_test.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tvtest
{

inline bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
        if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    return false;
}

// Runs a program (no shell), its output into *out when given; waits at most
// limitMs. Returns the exit status, -1 when it did not finish in time.
inline int RunProgram(std::vector<std::string> args, std::string* out = nullptr, int limitMs = 10000,
                      bool ownGroup = false)
{
    int pipefd[2] = {-1, -1};
    if (out != nullptr && pipe(pipefd) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        if (ownGroup)
            setpgid(0, 0);
        int sink = open("/dev/null", O_WRONLY);
        dup2(out != nullptr ? pipefd[1] : sink, 1);
        dup2(out != nullptr ? pipefd[1] : sink, 2);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (out != nullptr) {
        close(pipefd[1]);
        fcntl(pipefd[0], F_SETFL, O_NONBLOCK);
    }
    int status = 0;
    bool done = false;
    char buf[4096];
    for (int waited = 0; waited < limitMs; waited += 10) {
        if (out != nullptr) {
            ssize_t n;
            while ((n = read(pipefd[0], buf, sizeof buf)) > 0)
                out->append(buf, static_cast<size_t>(n));
        }
        if (waitpid(pid, &status, WNOHANG) == pid) {
            done = true;
            break;
        }
        usleep(10000);
    }
    if (!done) {
        kill(ownGroup ? -pid : pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    if (out != nullptr) {
        ssize_t n;
        while ((n = read(pipefd[0], buf, sizeof buf)) > 0)
            out->append(buf, static_cast<size_t>(n));
        close(pipefd[0]);
    }
    if (!done)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs frames until pred holds or about five seconds have passed.
template <class Pred> bool PumpUntil(Pred pred)
{
    for (int i = 0; i < 1000; ++i) {
        xHandler();
        if (pred())
            return true;
        usleep(5000);
    }
    return false;
}

// True when xvfb-run, Xvfb and xdotool can be started.
inline bool XToolsPresent() { return OnPath("xvfb-run") && OnPath("xdotool") && OnPath("Xvfb"); }

// Runs this test program again inside a new X server with only the test
// named by filter, childVar set so the test knows it is the inner run, and
// LeakSanitizer told about SDL's desktop bus connection, which keeps a block
// of its library to the end. Returns the inner run's exit status (-1 when it
// did not finish in 90 s) and its output in *out.
inline int RunSelfInXServer(const char* childVar, const char* filter, std::string* out)
{
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0)
        return -1;
    {
        std::ofstream supp("x11-lsan.supp");
        supp << "leak:libdbus-1.so\n";
    }
    const char* lsan = std::getenv("LSAN_OPTIONS");
    const std::string lsanBefore = lsan != nullptr ? lsan : "";
    char cwd[4096] = {};
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return -1;
    const std::string lsanChild =
        (lsanBefore.empty() ? "" : lsanBefore + ":") + "suppressions=" + cwd + "/x11-lsan.supp";
    setenv("LSAN_OPTIONS", lsanChild.c_str(), 1);
    setenv(childVar, "1", 1);
    // xvfb-run -a takes the first free server number from -n on; tests run
    // side by side start their search at numbers of their own, so they do not
    // race for the same one.
    const std::string first = std::to_string(100 + getpid() % 400);
    const int rc = RunProgram({"xvfb-run", "-a", "-n", first, "-s", "-screen 0 1024x768x24", self,
                               std::string("--gtest_filter=") + filter},
                              out, 90000, true);
    unsetenv(childVar);
    if (lsan != nullptr)
        setenv("LSAN_OPTIONS", lsanBefore.c_str(), 1);
    else
        unsetenv("LSAN_OPTIONS");
    return rc;
}

} // namespace tvtest
