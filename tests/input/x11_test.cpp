// End to end in a real X server: the test starts itself again under
// xvfb-run, opens the main window there and has xdotool type keys and click
// into it; the keyboard queue and the mouse state must see what was typed
// and clicked, and the window's cursors must be the X server's own.
#include "tarvex_test.h"
#include "x11_util.h"

#include <string>
#include <vector>

namespace
{

constexpr const char* kChildVar = "TARVEX_X11_CHILD";
constexpr const char* kTitle = "tarvex-x11-input";

using tvtest::PumpUntil;
using tvtest::RunProgram;

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
    tvtest::PumpFrames(40); // let the window come up

    std::string log;
    const std::string win = tvtest::FocusWindowNamed(kTitle, &log);
    ASSERT_FALSE(win.empty()) << log;
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

TEST(InputX11, TypingAndClicksReachKeyboardAndMouse) { tvtest::RunInXServer(kChildVar, RunInsideX); }

} // namespace
