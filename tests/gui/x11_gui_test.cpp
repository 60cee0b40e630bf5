// End to end in a real X server: the test starts itself again under
// xvfb-run, opens two GUI windows on the screen there and has xdotool drag
// the front one by its title bar and click its close box.
#include "platform/platform.h"
#include "tarvex_test.h"
#include "x11_util.h"

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
using tvtest::OnPath;
using tvtest::PumpUntil;
using tvtest::RunProgram;

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
    if (!tvtest::XToolsPresent())
        GTEST_SKIP() << "xvfb-run, Xvfb or xdotool missing";
    std::string out;
    const int rc = tvtest::RunSelfInXServer(kChildVar, "GuiX11.DragByTitleBarAndCloseBox", &out);
    EXPECT_EQ(rc, 0) << out;
}

} // namespace
