// End to end in a real X server: the test starts itself again under
// xvfb-run, opens two GUI windows on the screen there and has xdotool drag
// the front one by its title bar and click its close box.
#include "tarvex_test.h"
#include "x11_util.h"

#include <tarvex/window.h>

#include <string>
#include <vector>

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_GUI_CHILD";
constexpr const char* kTitle = "tarvex-x11-gui";
using tvtest::PumpUntil;
using tvtest::Xdo;

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
    ASSERT_NO_FATAL_FAILURE(tvtest::ShowScreenWindow(kTitle));
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
    tvtest::PumpFrames(40);
    std::string log;
    const std::string win = tvtest::FocusWindowNamed(kTitle, &log);
    ASSERT_FALSE(win.empty()) << log;
    // Drag the front window by its title bar from (100, 88) to (300, 288).
    ASSERT_EQ(Xdo({"mousemove", "--window", win, "--sync", "100", "88"}), 0);
    ASSERT_EQ(Xdo({"mousedown", "1"}), 0);
    for (int step = 1; step <= 4; ++step)
        ASSERT_EQ(Xdo({"mousemove", "--window", win, "--sync", std::to_string(100 + 50 * step),
                       std::to_string(88 + 50 * step)}),
                  0);
    ASSERT_EQ(Xdo({"mouseup", "1"}), 0);
    EXPECT_TRUE(PumpUntil([&] { return front->x == 280 && front->y == 280; })) << front->x << "," << front->y;
    // Click its close box.
    CRect box = front->titlebar->CloseRect();
    ASSERT_EQ(tvtest::XdoClick(win, front->x + box.left + 3, front->y + box.top + 3), 0);
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

TEST(GuiX11, DragByTitleBarAndCloseBox) { tvtest::RunInXServer(kChildVar, RunInsideX); }

} // namespace
