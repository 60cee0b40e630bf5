// End to end in a real X server: the test starts itself again under
// xvfb-run, opens the main window there and has xdotool type keys and click
// into it; the keyboard queue and the mouse state must see what was typed
// and clicked, and the window's cursors must be the X server's own.
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

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_CHILD";
constexpr const char* kTitle = "tarvex-x11-input";

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

std::string g_pasted;
void CollectPaste(char* text, void*) { g_pasted += text; }

struct Entry {
    uint16_t key;
    bool down;
};

// The part that runs inside the X server.
void RunInsideX()
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok) << tvtest::LastError();
    HWND main = sglb->mainWindow;
    ASSERT_STREQ(SDL_GetCurrentVideoDriver(), "x11");
    ASSERT_TRUE(tvp::SetWindowText(main, kTitle));
    ASSERT_TRUE(tvp::SetWindowPos(main, 0, 0, 640, 480));
    tvp::ShowWindow(main, SW_SHOW);
    for (int i = 0; i < 40; ++i) { // let the window come up
        xHandler();
        usleep(5000);
    }

    std::string found;
    ASSERT_EQ(RunProgram({"xdotool", "search", "--sync", "--onlyvisible", "--name", kTitle}, &found), 0)
        << found;
    const std::string win = found.substr(0, found.find('\n'));
    ASSERT_FALSE(win.empty());
    ASSERT_EQ(RunProgram({"xdotool", "windowfocus", "--sync", win}), 0);
    xHandler();
    CKeyboard& kb = *glb->keyboard;
    CMouse& mouse = *glb->mouse;
    kb.Clear(XKEYCLEAR_QUEUE | XKEYCLEAR_STATES);

    // Keys: typed characters, right-hand modifiers, an arrow, and a paste.
    ASSERT_EQ(SDL_SetClipboardText("pasted \xC3\xA9"), 0) << SDL_GetError();
    kb.SetPasteReceiver(CollectPaste, nullptr);
    ASSERT_EQ(RunProgram({"xdotool", "type", "--delay", "40", "aB1"}), 0);
    ASSERT_EQ(RunProgram({"xdotool", "key", "--delay", "40", "Shift_R", "Control_R", "Left", "ctrl+v"}), 0);
    std::vector<Entry> got;
    auto sawAll = [&] {
        TQueueChar q{};
        while (kb.GetNext(&q))
            got.push_back({q.key, (q.flags & XKEYF_DOWN) != 0});
        // Done when V came up (as 'v' or as Ctrl+V, whichever went first).
        return !g_pasted.empty() && kb.GetPressed() == 0 && !got.empty() && !got.back().down &&
               (got.back().key == 'v' || got.back().key == 22);
    };
    EXPECT_TRUE(PumpUntil(sawAll));
    // What the keys typed, in order. (xdotool presses the left modifier of
    // a modifier key's kind along with Shift_R and Control_R, so the right
    // sides come with left ones; only the order of what was asked is checked.)
    std::string all;
    for (const Entry& e : got)
        all += std::to_string(e.key) + (e.down ? "v " : "^ ");
    const std::vector<uint16_t> want = {'a', 'B', '1', XKEY_RSHIFT, XKEY_RCTRL, XKEY_LEFT, 22};
    size_t next = 0;
    for (const Entry& e : got)
        if (next < want.size() && e.down && e.key == want[next])
            ++next;
    EXPECT_EQ(next, want.size()) << all;
    for (uint16_t k = XKEY_SHIFT; k <= XKEY_RALT; ++k) {
        long balance = 0;
        for (const Entry& e : got)
            balance += e.key == k ? (e.down ? 1 : -1) : 0;
        EXPECT_EQ(balance, 0) << "key " << k << ": " << all;
    }
    EXPECT_EQ(g_pasted, "pasted \xE9");
    EXPECT_EQ(kb.GetPressed(), 0) << "every key came up again";

    // The mouse: a move, then left, right and middle clicks at one place.
    ASSERT_EQ(RunProgram({"xdotool", "mousemove", "--window", win, "--sync", "100", "50"}), 0);
    ASSERT_EQ(RunProgram({"xdotool", "click", "1", "click", "3", "click", "2"}), 0);
    const uint32_t allClicks = XMOUSE_LEFT_WENTDOWN | XMOUSE_LEFT_WENTUP | XMOUSE_RIGHT_WENTDOWN |
                               XMOUSE_RIGHT_WENTUP | XMOUSE_MIDDLE_WENTDOWN | XMOUSE_MIDDLE_WENTUP;
    uint32_t seen = 0;
    EXPECT_TRUE(PumpUntil([&] {
        int32_t state = 0;
        mouse.GetBtnState(&state);
        seen |= static_cast<uint32_t>(state);
        return (seen & allClicks) == allClicks;
    })) << std::hex
        << seen;
    int32_t x = 0, y = 0;
    int8_t buttons = -1;
    mouse.GetState(&x, &y, &buttons);
    EXPECT_EQ(x, 100);
    EXPECT_EQ(y, 50);
    EXPECT_EQ(buttons, 0);
    ASSERT_EQ(RunProgram({"xdotool", "mousemove", "--window", win, "--sync", "200", "120"}), 0);
    EXPECT_TRUE(PumpUntil([&] {
        mouse.GetState(&x, &y, nullptr);
        return x == 200 && y == 120;
    })) << x
        << "," << y;

    // Cursors: the server's I-beam and hand, and a colour cursor from a bitmap.
    CBitmap* bitmap = XNEW(CBitmap);
    ASSERT_TRUE(bitmap->CreateRGB(16, 16, 24, 8, 8, 8, 16, 8, 0, 0));
    TRGBA key{0, 0, 0, 0}, ink{255, 255, 0, 0};
    bitmap->Fill(&key);
    for (int32_t i = 0; i < 16; ++i)
        bitmap->PutPixel(i, i, &ink);
    const uint32_t id = mouse.AllocCursor(bitmap, nullptr, 0, 0, 0, 0);
    ASSERT_NE(id, 0u);
    mouse.SetCursor(XCURSOR_IBEAM, 0);
    EXPECT_NE(tvp::GetCursor(), 0);
    EXPECT_EQ(tvp::GetCursor(), mouse.ibeamCursor);
    mouse.SetCursor(XCURSOR_FINGER, 0);
    EXPECT_EQ(tvp::GetCursor(), mouse.fingerCursor);
    EXPECT_NE(mouse.fingerCursor, mouse.arrowCursor) << "the server has a hand cursor";
    mouse.SetCursor(id, 0);
    ASSERT_NE(mouse.current, nullptr);
    EXPECT_NE(mouse.current->colorCursor, 0);
    EXPECT_EQ(tvp::GetCursor(), mouse.current->colorCursor);
    mouse.SetCursor(99, 0);
    EXPECT_EQ(tvp::GetCursor(), mouse.arrowCursor);
    mouse.FreeAllCursors();
    XDELETE(bitmap);
    xHandler();
    EXPECT_EQ(g.Finish(), "") << "leak list not empty";
}

TEST(InputX11, TypingAndClicksReachKeyboardAndMouse)
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
    // Each X test starts its search for a free server number at a number of
    // its own, so tests run side by side do not race for the same one.
    const std::string first = std::to_string(100 + getpid() % 400);
    const int rc = RunProgram({"xvfb-run", "-a", "-n", first, "-s", "-screen 0 1024x768x24", self,
                               "--gtest_filter=InputX11.TypingAndClicksReachKeyboardAndMouse"},
                              &out, 90000, true);
    unsetenv(kChildVar);
    if (lsan != nullptr)
        setenv("LSAN_OPTIONS", lsanBefore.c_str(), 1);
    else
        unsetenv("LSAN_OPTIONS");
    EXPECT_EQ(rc, 0) << out;
}

} // namespace
