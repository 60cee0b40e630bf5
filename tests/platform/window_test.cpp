// The window system, run headless: class and window life cycles, the message
// queue, and SDL events translated into window messages.
#include "platform/keymap.h"
#include "platform/platform.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Seen {
    HWND hwnd;
    uint32_t message;
    uint32_t wParam;
    int32_t lParam;
};
std::vector<Seen> g_seen;
int32_t g_createAnswer = 0;

int32_t RecordingProc(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    g_seen.push_back({hwnd, msg, wParam, lParam});
    if (msg == WM_CREATE)
        return g_createAnswer;
    return tvp::DefWindowProc(hwnd, msg, wParam, lParam);
}

bool SawMessage(HWND hwnd, uint32_t message)
{
    for (const Seen& s : g_seen)
        if (s.hwnd == hwnd && s.message == message)
            return true;
    return false;
}

// Everything queued now, SDL events included (bounded).
std::vector<tvp::Msg> Drain()
{
    std::vector<tvp::Msg> out;
    tvp::Msg m{};
    for (int i = 0; i < 1000 && tvp::PeekMessage(m, true); ++i)
        out.push_back(m);
    return out;
}

// Drops what the window system says on its own (paints, focus, sizes).
std::vector<tvp::Msg> InputOnly(const std::vector<tvp::Msg>& msgs)
{
    std::vector<tvp::Msg> out;
    for (const tvp::Msg& m : msgs)
        if (m.message != WM_PAINT && m.message != WM_ACTIVATEAPP && m.message != WM_SIZE)
            out.push_back(m);
    return out;
}

class PlatformWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_seen.clear();
        g_createAnswer = 0;
        ASSERT_TRUE(tvp::VideoStartup());
        ASSERT_NE(tvp::RegisterClass("TvTest", RecordingProc, CS_DBLCLKS), 0);
        hwnd = tvp::CreateWindow("TvTest", "test window", WS_POPUP, 0, 0, 320, 200);
        ASSERT_NE(hwnd, nullptr);
        Drain();
        g_seen.clear();
    }
    void TearDown() override
    {
        if (tvp::IsWindow(hwnd))
            tvp::DestroyWindow(hwnd);
        EXPECT_TRUE(tvp::UnregisterClass("TvTest"));
        tvp::VideoShutdown();
        Drain();
        EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u) << "window system left running";
    }
    HWND hwnd = nullptr;
};

TEST(PlatformWindowLife, RepeatedStartStopCycles)
{
    for (int cycle = 0; cycle < 3; ++cycle) {
        SCOPED_TRACE(cycle);
        g_seen.clear();
        ASSERT_TRUE(tvp::VideoStartup());
        ASSERT_TRUE(tvp::VideoStartup()) << "nested start";
        const uint16_t atom = tvp::RegisterClass("TvLife", RecordingProc, 0);
        EXPECT_NE(atom, 0);
        EXPECT_EQ(tvp::RegisterClass("TvLife", RecordingProc, 0), 0) << "duplicate name";
        EXPECT_EQ(tvp::CreateWindow("NoSuchClass", "x", 0, 0, 0, 10, 10), nullptr);

        HWND w = tvp::CreateWindow("TvLife", "life", 0, 10, 10, 200, 100);
        ASSERT_NE(w, nullptr);
        EXPECT_TRUE(tvp::IsWindow(w));
        EXPECT_TRUE(SawMessage(w, WM_CREATE));
        ASSERT_NE(tvp::SdlWindow(w), nullptr);
        EXPECT_FALSE(SDL_GetWindowFlags(tvp::SdlWindow(w)) & SDL_WINDOW_SHOWN) << "hidden until shown";
        tvp::ShowWindow(w, SW_SHOW);
        tvp::UpdateWindow(w);
        EXPECT_TRUE(tvp::SetWindowText(w, "renamed"));
        EXPECT_STREQ(SDL_GetWindowTitle(tvp::SdlWindow(w)), "renamed");
        EXPECT_TRUE(tvp::SetWindowPos(w, 0, 0, 300, 150));
        HDC dc = tvp::GetDC(w);
        ASSERT_NE(dc, nullptr);
        EXPECT_EQ(tvp::WindowFromDC(dc), w);
        tvp::ReleaseDC(w, dc);

        EXPECT_FALSE(tvp::UnregisterClass("TvLife")) << "class in use";
        // The nested start's stop must not take the window system away.
        tvp::VideoShutdown();
        EXPECT_NE(SDL_WasInit(SDL_INIT_VIDEO), 0u);

        EXPECT_TRUE(tvp::DestroyWindow(w));
        EXPECT_TRUE(SawMessage(w, WM_DESTROY));
        EXPECT_FALSE(tvp::IsWindow(w));
        EXPECT_FALSE(tvp::DestroyWindow(w));
        EXPECT_EQ(tvp::SdlWindow(w), nullptr);
        EXPECT_EQ(tvp::WindowFromDC(dc), nullptr);
        EXPECT_TRUE(tvp::UnregisterClass("TvLife"));
        EXPECT_FALSE(tvp::UnregisterClass("TvLife"));
        tvp::VideoShutdown();
        EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
        Drain();
    }
}

TEST(PlatformWindowLife, CreateRefusedByProcAndNoWindowWithoutVideo)
{
    g_seen.clear();
    ASSERT_NE(tvp::RegisterClass("TvRefuse", RecordingProc, 0), 0);
    EXPECT_EQ(tvp::CreateWindow("TvRefuse", "x", 0, 0, 0, 10, 10), nullptr) << "video not started";
    ASSERT_TRUE(tvp::VideoStartup());
    g_createAnswer = -1;
    EXPECT_EQ(tvp::CreateWindow("TvRefuse", "x", 0, 0, 0, 10, 10), nullptr);
    g_createAnswer = 0;
    EXPECT_EQ(g_seen.size(), 2u);
    EXPECT_TRUE(SawMessage(g_seen.empty() ? nullptr : g_seen[0].hwnd, WM_DESTROY));
    EXPECT_TRUE(tvp::UnregisterClass("TvRefuse"));
    tvp::VideoShutdown();
    EXPECT_EQ(SDL_WasInit(SDL_INIT_VIDEO), 0u);
}

TEST_F(PlatformWindow, PostedMessagesReachTheProcUnchanged)
{
    ASSERT_TRUE(tvp::TestPostMessage(hwnd, WM_USER + 1, 0xDEADBEEFu, -12345));
    ASSERT_TRUE(tvp::PostMessage(nullptr, WM_USER + 2, 1, 2)) << "thread message";
    tvp::PostQuitMessage(7);

    tvp::Msg m{};
    ASSERT_TRUE(tvp::PeekMessage(m, false));
    EXPECT_EQ(m.message, WM_USER + 1u) << "peek without remove";
    auto msgs = InputOnly(Drain());
    ASSERT_EQ(msgs.size(), 3u);
    EXPECT_EQ(msgs[0].hwnd, hwnd);
    EXPECT_EQ(msgs[0].message, WM_USER + 1u);
    EXPECT_EQ(tvp::DispatchMessage(msgs[0]), 0);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].hwnd, hwnd);
    EXPECT_EQ(g_seen[0].wParam, 0xDEADBEEFu);
    EXPECT_EQ(g_seen[0].lParam, -12345);

    EXPECT_EQ(msgs[1].hwnd, nullptr);
    EXPECT_EQ(msgs[2].message, WM_QUIT);
    EXPECT_EQ(msgs[2].hwnd, nullptr);
    EXPECT_EQ(msgs[2].wParam, 7u);
    g_seen.clear();
    EXPECT_EQ(tvp::DispatchMessage(msgs[1]), 0);
    EXPECT_EQ(tvp::DispatchMessage(msgs[2]), 0);
    EXPECT_TRUE(g_seen.empty()) << "null-window messages go nowhere";

    EXPECT_EQ(tvp::SendMessage(hwnd, WM_USER + 3, 4, 5), 0);
    ASSERT_EQ(g_seen.size(), 1u);
    EXPECT_EQ(g_seen[0].message, WM_USER + 3u);
}

TEST_F(PlatformWindow, CloseDestroysAndDropsTheWindowsMessages)
{
    ASSERT_TRUE(tvp::PostMessage(hwnd, WM_USER, 0, 0));
    tvp::SendMessage(hwnd, WM_CLOSE, 0, 0); // DefWindowProc destroys
    EXPECT_TRUE(SawMessage(hwnd, WM_DESTROY));
    EXPECT_FALSE(tvp::IsWindow(hwnd));
    EXPECT_TRUE(Drain().empty()) << "queued message of a destroyed window surfaced";
    EXPECT_FALSE(tvp::PostMessage(hwnd, WM_USER, 0, 0));
    EXPECT_FALSE(tvp::IsWindow(reinterpret_cast<HWND>(&g_seen))) << "unknown handle";
}

TEST_F(PlatformWindow, TranslateTypesControlCharactersBeforeLaterMessages)
{
    struct Case {
        uint32_t vk;
        uint32_t ch; // 0: no character
    };
    const Case cases[] = {{tvp::VK_RETURN, 13}, {tvp::VK_BACK, 8}, {tvp::VK_TAB, 9}, {tvp::VK_ESCAPE, 27},
                          {tvp::VK_LEFT, 0},    {'A', 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vk);
        ASSERT_TRUE(tvp::TestPostMessage(hwnd, WM_KEYDOWN, c.vk, 0x001C0001));
        ASSERT_TRUE(tvp::TestPostMessage(hwnd, WM_KEYUP, c.vk, static_cast<int32_t>(0xC01C0001u)));
        tvp::Msg m{};
        ASSERT_TRUE(tvp::PeekMessage(m, true));
        ASSERT_EQ(m.message, WM_KEYDOWN);
        tvp::TranslateMessage(m);
        auto rest = InputOnly(Drain());
        ASSERT_EQ(rest.size(), c.ch ? 2u : 1u);
        if (c.ch) {
            EXPECT_EQ(rest[0].message, WM_CHAR);
            EXPECT_EQ(rest[0].wParam, c.ch);
        }
        EXPECT_EQ(rest.back().message, WM_KEYUP);
    }
}

SDL_Event KeyEvent(SDL_Window* win, bool down, SDL_Keycode sym, SDL_Scancode sc, uint16_t mod, bool repeat)
{
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.windowID = SDL_GetWindowID(win);
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat ? 1 : 0;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = sc;
    e.key.keysym.mod = mod;
    return e;
}

TEST_F(PlatformWindow, SdlKeysBecomeKeyMessagesWithKeyData)
{
    SDL_Window* win = tvp::SdlWindow(hwnd);
    struct Case {
        SDL_Event event;
        uint32_t message;
        uint32_t vk;
        uint32_t lParam;
    };
    const Case cases[] = {
        {KeyEvent(win, true, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, false), WM_KEYDOWN, 'A', 0x001E0001u},
        {KeyEvent(win, true, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, true), WM_KEYDOWN, 'A', 0x401E0001u},
        {KeyEvent(win, false, SDLK_a, SDL_SCANCODE_A, KMOD_NONE, false), WM_KEYUP, 'A', 0xC01E0001u},
        {KeyEvent(win, true, SDLK_UP, SDL_SCANCODE_UP, KMOD_NONE, false), WM_KEYDOWN, 0x26, 0x01480001u},
        {KeyEvent(win, true, SDLK_F4, SDL_SCANCODE_F4, KMOD_LALT, false), WM_SYSKEYDOWN, 0x73, 0x203E0001u},
        {KeyEvent(win, false, SDLK_LALT, SDL_SCANCODE_LALT, KMOD_NONE, false), WM_SYSKEYUP, tvp::VK_MENU,
         0xC0380001u},
        // AltGr (Ctrl+Alt) types characters: not a system key.
        {KeyEvent(win, true, SDLK_q, SDL_SCANCODE_Q, KMOD_RALT | KMOD_LCTRL, false), WM_KEYDOWN, 'Q',
         0x00100001u},
        // A layout character without a virtual key falls back on the key's US meaning.
        {KeyEvent(win, true, 0xE9, SDL_SCANCODE_2, KMOD_NONE, false), WM_KEYDOWN, '2', 0x00030001u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.vk);
        SDL_Event e = c.event;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        auto msgs = InputOnly(Drain());
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].hwnd, hwnd);
        EXPECT_EQ(msgs[0].message, c.message);
        EXPECT_EQ(msgs[0].wParam, c.vk);
        EXPECT_EQ(static_cast<uint32_t>(msgs[0].lParam), c.lParam);
    }
}

TEST_F(PlatformWindow, TypedTextBecomesLatin1Characters)
{
    SDL_Window* win = tvp::SdlWindow(hwnd);
    SDL_Event down = KeyEvent(win, true, SDLK_e, SDL_SCANCODE_E, KMOD_NONE, false);
    SDL_Event text{};
    text.type = SDL_TEXTINPUT;
    text.text.windowID = SDL_GetWindowID(win);
    // e-acute, then a character beyond Latin-1 that must be dropped, then 'x'.
    std::strcpy(text.text.text, "\xC3\xA9\xE2\x82\xAC" "x");
    ASSERT_EQ(SDL_PushEvent(&down), 1);
    ASSERT_EQ(SDL_PushEvent(&text), 1);

    tvp::Msg m{};
    ASSERT_TRUE(tvp::PeekMessage(m, true));
    while (m.message == WM_PAINT || m.message == WM_ACTIVATEAPP || m.message == WM_SIZE)
        ASSERT_TRUE(tvp::PeekMessage(m, true));
    ASSERT_EQ(m.message, WM_KEYDOWN);
    tvp::TranslateMessage(m);
    auto chars = InputOnly(Drain());
    ASSERT_EQ(chars.size(), 2u);
    EXPECT_EQ(chars[0].message, WM_CHAR);
    EXPECT_EQ(chars[0].wParam, 0xE9u);
    EXPECT_EQ(chars[1].wParam, static_cast<uint32_t>('x'));

    // Text arriving on its own (an input method) is delivered as characters directly.
    ASSERT_EQ(SDL_PushEvent(&text), 1);
    chars = InputOnly(Drain());
    ASSERT_EQ(chars.size(), 2u);
    EXPECT_EQ(chars[0].message, WM_CHAR);
    EXPECT_EQ(chars[0].wParam, 0xE9u);
}

TEST_F(PlatformWindow, SdlMouseEventsBecomeMouseMessages)
{
    const uint32_t id = SDL_GetWindowID(tvp::SdlWindow(hwnd));
    auto button = [&](bool down, uint8_t which, uint8_t clicks) {
        SDL_Event e{};
        e.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
        e.button.windowID = id;
        e.button.button = which;
        e.button.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.button.clicks = clicks;
        e.button.x = 12;
        e.button.y = 34;
        return e;
    };
    SDL_Event motion{};
    motion.type = SDL_MOUSEMOTION;
    motion.motion.windowID = id;
    motion.motion.state = SDL_BUTTON_LMASK;
    motion.motion.x = 5;
    motion.motion.y = 6;
    SDL_Event wheel{};
    wheel.type = SDL_MOUSEWHEEL;
    wheel.wheel.windowID = id;
    wheel.wheel.y = -1;
    wheel.wheel.preciseY = -1.0f;
    wheel.wheel.mouseX = 7;
    wheel.wheel.mouseY = 8;

    struct Case {
        SDL_Event event;
        uint32_t message;
        uint32_t wParam;
        int32_t lParam;
    };
    const Case cases[] = {
        {button(true, SDL_BUTTON_LEFT, 1), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(12, 34)},
        {button(false, SDL_BUTTON_LEFT, 1), WM_LBUTTONUP, 0, MAKELPARAM(12, 34)},
        {button(true, SDL_BUTTON_LEFT, 2), WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(12, 34)},
        {button(false, SDL_BUTTON_LEFT, 2), WM_LBUTTONUP, 0, MAKELPARAM(12, 34)},
        {button(true, SDL_BUTTON_RIGHT, 1), WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(12, 34)},
        {button(false, SDL_BUTTON_RIGHT, 1), WM_RBUTTONUP, 0, MAKELPARAM(12, 34)},
        {button(true, SDL_BUTTON_MIDDLE, 2), WM_MBUTTONDBLCLK, MK_MBUTTON, MAKELPARAM(12, 34)},
        {button(false, SDL_BUTTON_MIDDLE, 2), WM_MBUTTONUP, 0, MAKELPARAM(12, 34)},
        {motion, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(5, 6)},
        {wheel, WM_MOUSEWHEEL, 0xFF880000u | MK_LBUTTON, MAKELPARAM(7, 8)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SDL_Event e = c.event;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        auto msgs = InputOnly(Drain());
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_EQ(msgs[0].hwnd, hwnd);
        EXPECT_EQ(msgs[0].message, c.message);
        EXPECT_EQ(msgs[0].wParam, c.wParam);
        EXPECT_EQ(msgs[0].lParam, c.lParam);
    }
}

TEST_F(PlatformWindow, SdlWindowEventsBecomeWindowMessages)
{
    const uint32_t id = SDL_GetWindowID(tvp::SdlWindow(hwnd));
    auto windowEvent = [&](uint8_t what, int32_t d1, int32_t d2) {
        SDL_Event e{};
        e.type = SDL_WINDOWEVENT;
        e.window.windowID = id;
        e.window.event = what;
        e.window.data1 = d1;
        e.window.data2 = d2;
        return e;
    };
    struct Case {
        SDL_Event event;
        uint32_t message;
        uint32_t wParam;
        int32_t lParam;
    };
    SDL_Event quit{};
    quit.type = SDL_QUIT;
    const Case cases[] = {
        {windowEvent(SDL_WINDOWEVENT_FOCUS_GAINED, 0, 0), WM_ACTIVATEAPP, 1, 0},
        {windowEvent(SDL_WINDOWEVENT_FOCUS_LOST, 0, 0), WM_ACTIVATEAPP, 0, 0},
        {windowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 640, 400), WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 400)},
        {windowEvent(SDL_WINDOWEVENT_MINIMIZED, 0, 0), WM_SIZE, SIZE_MINIMIZED, 0},
        {windowEvent(SDL_WINDOWEVENT_EXPOSED, 0, 0), WM_PAINT, 0, 0},
        {windowEvent(SDL_WINDOWEVENT_CLOSE, 0, 0), WM_CLOSE, 0, 0},
        {quit, WM_CLOSE, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SDL_Event e = c.event;
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        auto msgs = Drain();
        ASSERT_FALSE(msgs.empty());
        EXPECT_EQ(msgs.back().hwnd, hwnd);
        EXPECT_EQ(msgs.back().message, c.message);
        EXPECT_EQ(msgs.back().wParam, c.wParam);
        EXPECT_EQ(msgs.back().lParam, c.lParam);
    }

    // Events of a window that is gone are dropped.
    SDL_Event late = windowEvent(SDL_WINDOWEVENT_CLOSE, 0, 0);
    ASSERT_TRUE(tvp::DestroyWindow(hwnd));
    ASSERT_EQ(SDL_PushEvent(&late), 1);
    EXPECT_TRUE(Drain().empty());
}

TEST(PlatformKeymap, VirtualKeysAndScanCodes)
{
    struct Case {
        int32_t sdl;
        uint32_t vk;
    };
    const Case keys[] = {
        {SDLK_a, 'A'},          {SDLK_z, 'Z'},          {SDLK_0, '0'},          {SDLK_9, '9'},
        {SDLK_BACKSPACE, 0x08}, {SDLK_TAB, 0x09},       {SDLK_RETURN, 0x0D},    {SDLK_KP_ENTER, 0x0D},
        {SDLK_LSHIFT, 0x10},    {SDLK_RSHIFT, 0x10},    {SDLK_RCTRL, 0x11},     {SDLK_LALT, 0x12},
        {SDLK_PAUSE, 0x13},     {SDLK_CAPSLOCK, 0x14},  {SDLK_ESCAPE, 0x1B},    {SDLK_SPACE, 0x20},
        {SDLK_PAGEUP, 0x21},    {SDLK_PAGEDOWN, 0x22},  {SDLK_END, 0x23},       {SDLK_HOME, 0x24},
        {SDLK_LEFT, 0x25},      {SDLK_UP, 0x26},        {SDLK_RIGHT, 0x27},     {SDLK_DOWN, 0x28},
        {SDLK_INSERT, 0x2D},    {SDLK_DELETE, 0x2E},    {SDLK_KP_0, 0x60},      {SDLK_KP_9, 0x69},
        {SDLK_KP_MULTIPLY, 0x6A}, {SDLK_KP_PLUS, 0x6B}, {SDLK_KP_MINUS, 0x6D},  {SDLK_KP_PERIOD, 0x6E},
        {SDLK_KP_DIVIDE, 0x6F}, {SDLK_F1, 0x70},        {SDLK_F12, 0x7B},       {SDLK_NUMLOCKCLEAR, 0x90},
        {SDLK_SCROLLLOCK, 0x91}, {SDLK_SEMICOLON, 0xBA}, {SDLK_EQUALS, 0xBB},   {SDLK_COMMA, 0xBC},
        {SDLK_MINUS, 0xBD},     {SDLK_PERIOD, 0xBE},    {SDLK_SLASH, 0xBF},     {SDLK_BACKQUOTE, 0xC0},
        {SDLK_LEFTBRACKET, 0xDB}, {SDLK_BACKSLASH, 0xDC}, {SDLK_RIGHTBRACKET, 0xDD}, {SDLK_QUOTE, 0xDE},
        {0xE9, 0},              {SDLK_UNKNOWN, 0},
    };
    for (const Case& c : keys)
        EXPECT_EQ(tvp::VirtualKeyFromSdl(c.sdl), c.vk) << "SDL key " << c.sdl;

    struct Scan {
        int32_t sdl;
        uint32_t set1;
    };
    const Scan scans[] = {
        {SDL_SCANCODE_A, 0x1E},     {SDL_SCANCODE_Z, 0x2C},      {SDL_SCANCODE_1, 0x02},
        {SDL_SCANCODE_0, 0x0B},     {SDL_SCANCODE_ESCAPE, 0x01}, {SDL_SCANCODE_F10, 0x44},
        {SDL_SCANCODE_F12, 0x58},   {SDL_SCANCODE_UP, 0x148},    {SDL_SCANCODE_KP_ENTER, 0x11C},
        {SDL_SCANCODE_RCTRL, 0x11D}, {SDL_SCANCODE_KP_8, 0x48},  {SDL_SCANCODE_UNKNOWN, 0},
        {-1, 0},                    {SDL_NUM_SCANCODES, 0},
    };
    for (const Scan& s : scans)
        EXPECT_EQ(tvp::ScanCodeFromSdl(s.sdl), s.set1) << "SDL scancode " << s.sdl;
    static_assert(tvp::VirtualKeyFromSdl(SDLK_F5) == 0x74, "usable at compile time");
}

} // namespace
