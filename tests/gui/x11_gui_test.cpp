// End to end in a real X server: the test starts itself again under
// xvfb-run, opens two GUI windows on the screen there and has xdotool drag
// the front one by its title bar and click its close box.
#include "platform/platform.h"
#include "tarvex_test.h"

#include <SDL2/SDL.h>
#include <tarvex/window.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_GUI_CHILD";
constexpr const char* kTitle = "tarvex-x11-gui";
bool OnPath(const std::string& program)
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
int RunProgram(std::vector<std::string> args, std::string* out = nullptr, int limitMs = 10000,
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

int32_t g_closed = 0;
std::vector<CWindow*> g_windows;

void OnClose(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void*)
{
    if (msg != 2 || controlId != XCNTRL_CLOSE)
        return;
    for (auto it = g_windows.begin(); it != g_windows.end(); ++it)
        if ((*it)->id == windowId) {
            CWindow* w = *it;
            g_windows.erase(it);
            glb->rootWindow->RemoveWindow(windowId);
            w->Destroy();
            XDELETE(w);
            g_closed = windowId;
            break;
        }
}

void RunInsideX()
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok) << tvtest::LastError();
    HWND main = sglb->mainWindow;
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    ASSERT_NE(sglb->dibScreen, nullptr);
    ASSERT_TRUE(sglb->dibScreen->InitModeRez(640, 480, 16, XVMODE_WINDOW));
    ASSERT_TRUE(tvp::SetWindowText(main, kTitle));
    tvp::ShowWindow(main, SW_SHOW);
    CWinCtrl* root = xCreateGuiRoot();
    ASSERT_NE(root, nullptr);
    const int32_t look = XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE | XWIN_DRAG;
    char title[] = "Drag me";
    for (int32_t id = 1; id <= 2; ++id) {
        auto* w = XNEW(CWindow);
        w->Create(id, title, 40 * id, 40 * id, 200, 120, look);
        root->AddWindow(w, OnClose, nullptr);
        g_windows.push_back(w);
    }
    CWindow* front = g_windows[1];
    for (int i = 0; i < 40; ++i) {
        xHandler();
        usleep(5000);
    }
    std::string found;
    ASSERT_EQ(RunProgram({"xdotool", "search", "--sync", "--onlyvisible", "--name", kTitle}, &found), 0)
        << found;
    const std::string win = found.substr(0, found.find('\n'));
    ASSERT_FALSE(win.empty());
    ASSERT_EQ(RunProgram({"xdotool", "windowfocus", "--sync", win}), 0);
    auto xdo = [&](std::vector<std::string> args) {
        std::vector<std::string> all = {"xdotool"};
        all.insert(all.end(), args.begin(), args.end());
        int rc = RunProgram(all);
        for (int i = 0; i < 10; ++i) { // let the frames see it
            xHandler();
            usleep(5000);
        }
        return rc;
    };
    // Drag the front window by its title bar from (100, 88) to (300, 288).
    ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", "100", "88"}), 0);
    ASSERT_EQ(xdo({"mousedown", "1"}), 0);
    for (int step = 1; step <= 4; ++step)
        ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", std::to_string(100 + 50 * step),
                       std::to_string(88 + 50 * step)}),
                  0);
    ASSERT_EQ(xdo({"mouseup", "1"}), 0);
    EXPECT_TRUE(PumpUntil([&] { return front->x == 280 && front->y == 280; })) << front->x << "," << front->y;
    // Click its close box.
    CRect box = front->titlebar->CloseRect();
    ASSERT_EQ(xdo({"mousemove", "--window", win, "--sync", std::to_string(front->x + box.left + 3),
                   std::to_string(front->y + box.top + 3)}),
              0);
    ASSERT_EQ(xdo({"click", "1"}), 0);
    EXPECT_TRUE(PumpUntil([&] { return g_closed == 2; }));
    for (CWindow* w : g_windows) {
        root->RemoveWindow(w->id);
        w->Destroy();
        XDELETE(w);
    }
    g_windows.clear();
    xFreeGuiRoot();
    xHandler();
    EXPECT_EQ(g.Finish(), "") << "leak list not empty";
}

TEST(GuiX11, DragByTitleBarAndCloseBox)
{
    if (std::getenv(kChildVar) != nullptr) {
        RunInsideX();
        return;
    }
    if (!OnPath("xvfb-run") || !OnPath("xdotool") || !OnPath("Xvfb"))
        GTEST_SKIP() << "xvfb-run, Xvfb or xdotool missing";
    char self[4096] = {};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    // SDL's desktop bus connection keeps a block of its library to the end.
    {
        std::ofstream supp("x11-lsan.supp");
        supp << "leak:libdbus-1.so\n";
    }
    const char* lsan = std::getenv("LSAN_OPTIONS");
    const std::string lsanBefore = lsan != nullptr ? lsan : "";
    char cwd[4096] = {};
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const std::string lsanChild =
        (lsanBefore.empty() ? "" : lsanBefore + ":") + "suppressions=" + cwd + "/x11-lsan.supp";
    setenv("LSAN_OPTIONS", lsanChild.c_str(), 1);
    setenv(kChildVar, "1", 1);
    std::string out;
    const int rc = RunProgram({"xvfb-run", "-a", "-s", "-screen 0 1024x768x24", self,
                               "--gtest_filter=GuiX11.DragByTitleBarAndCloseBox"},
                              &out, 90000, true);
    unsetenv(kChildVar);
    if (lsan != nullptr)
        setenv("LSAN_OPTIONS", lsanBefore.c_str(), 1);
    else
        unsetenv("LSAN_OPTIONS");
    EXPECT_EQ(rc, 0) << out;
}

} // namespace
