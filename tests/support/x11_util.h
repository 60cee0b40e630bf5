// Helpers of the end-to-end tests that run in a real X server: each such test
// starts its own program again under xvfb-run and drives the window there
// with xdotool.
#pragma once

#include "platform/platform.h"
#include "tarvex_test.h"

#include <SDL2/SDL.h>
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

// Runs n frames, 5 ms apart, so the program sees what the server sent.
inline void PumpFrames(int n)
{
    for (int i = 0; i < n; ++i) {
        xHandler();
        usleep(5000);
    }
}

// Sets the X driver's main window up with a 640x480 16-bit screen, titled
// title, and shows it. Call through ASSERT_NO_FATAL_FAILURE.
inline void ShowScreenWindow(const char* title)
{
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    ASSERT_NE(sglb->dibScreen, nullptr);
    ASSERT_TRUE(sglb->dibScreen->InitModeRez(640, 480, 16, XVMODE_WINDOW));
    ASSERT_TRUE(tvp::SetWindowText(sglb->mainWindow, title));
    tvp::ShowWindow(sglb->mainWindow, SW_SHOW);
}

// Waits for the visible window titled title and gives it the focus. Returns
// its xdotool window id, or "" with xdotool's output in *log.
inline std::string FocusWindowNamed(const char* title, std::string* log)
{
    log->clear();
    if (RunProgram({"xdotool", "search", "--sync", "--onlyvisible", "--name", title}, log) != 0)
        return "";
    const std::string win = log->substr(0, log->find('\n'));
    if (win.empty() || RunProgram({"xdotool", "windowfocus", "--sync", win}, log) != 0)
        return "";
    return win;
}

// Runs xdotool with args, then frames frames to let the program see it.
// Returns xdotool's exit status.
inline int Xdo(std::vector<std::string> args, int frames = 10)
{
    args.insert(args.begin(), "xdotool");
    const int rc = RunProgram(std::move(args));
    PumpFrames(frames);
    return rc;
}

// Moves the pointer to (x, y) of window win and clicks the left button.
// Returns 0 when xdotool did both.
inline int XdoClick(const std::string& win, int32_t x, int32_t y, int frames = 10)
{
    const int moved =
        Xdo({"mousemove", "--window", win, "--sync", std::to_string(x), std::to_string(y)}, frames);
    const int clicked = Xdo({"click", "1"}, frames);
    return moved != 0 ? moved : clicked;
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

// The body of an end-to-end test: inside the X server (childVar set) runs
// inside; outside starts the current test again under xvfb-run and expects
// it to pass there, or skips when the tools are missing.
inline void RunInXServer(const char* childVar, void (*inside)())
{
    if (std::getenv(childVar) != nullptr) {
        inside();
        return;
    }
    if (!XToolsPresent())
        GTEST_SKIP() << "xvfb-run, Xvfb or xdotool missing";
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string(info->test_suite_name()) + "." + info->name();
    std::string out;
    const int rc = RunSelfInXServer(childVar, filter.c_str(), &out);
    EXPECT_EQ(rc, 0) << out;
}

} // namespace tvtest
