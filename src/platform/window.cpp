// The window system over SDL2: window classes, windows, and one message queue
// fed both by posted messages and by SDL events translated into the classic
// window messages. Window procedures are always called with the state lock
// released, so they may create, destroy, post and send freely.
#include "platform/platform.h"

#include "platform/keymap.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

// A window's device context only names the window: drawing goes through the
// SDL window, so each window owns exactly one DC for its whole life.
struct TvDC {
    TvWindow* window;
};

struct TvWindow {
    SDL_Window* sdl = nullptr;
    uint32_t sdlId = 0;
    TvWndProc proc = nullptr;
    uint32_t classStyle = 0;
    std::string className;
    std::string title;
    uint32_t style = 0;
    int32_t width = 0;
    int32_t height = 0;
    TvDC dc{this};
    bool destroying = false; // between WM_DESTROY and the end of DestroyWindow
};

namespace tvp {

namespace {

// The classic CW_USEDEFAULT: the window system picks the position or size.
constexpr int32_t kUseDefault = INT32_MIN;
constexpr int32_t kDefaultWidth = 640;
constexpr int32_t kDefaultHeight = 480;
// An SDL burst larger than this is left for the next PeekMessage.
constexpr int kMaxEventsPerPump = 4096;

struct WindowClass {
    std::string name;
    TvWndProc proc;
    uint32_t style;
    uint16_t atom;
};

struct QueuedMsg {
    Msg msg;
    uint64_t serial;
    std::string text; // UTF-8 typed with this key press, for TranslateMessage
};

struct State {
    std::mutex lock;
    int refs = 0;
    bool sdlUp = false;
    std::vector<WindowClass> classes;
    std::vector<std::unique_ptr<TvWindow>> windows; // creation order: the first is the main window
    std::deque<QueuedMsg> queue;
    uint64_t nextSerial = 1;
    uint16_t nextAtom = 0xC000;

    // Input state as of the last translated event, for the MK_* bits.
    uint32_t mouseButtons = 0;
    uint16_t mods = 0;
    // The key-down that the next SDL_TEXTINPUT belongs to (0: none).
    uint64_t pendingKeySerial = 0;

    // The message last removed by PeekMessage, with its typed text.
    Msg lastRemoved{};
    std::string lastText;
    bool lastValid = false;
};

// Never destroyed: other modules' static destructors may still call in.
State& S()
{
    static State* s = new State;
    return *s;
}

bool HasEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
}

TvWindow* FindLocked(State& s, HWND hwnd)
{
    if (hwnd == nullptr)
        return nullptr;
    for (auto& w : s.windows)
        if (w.get() == hwnd)
            return w.get();
    return nullptr;
}

TvWindow* FindBySdlIdLocked(State& s, uint32_t id)
{
    for (auto& w : s.windows)
        if (w->sdlId == id && !w->destroying)
            return w.get();
    return nullptr;
}

WindowClass* FindClassLocked(State& s, const char* name)
{
    for (auto& c : s.classes)
        if (strcasecmp(c.name.c_str(), name) == 0)
            return &c;
    return nullptr;
}

uint64_t PushLocked(State& s, HWND hwnd, uint32_t message, uint32_t wParam, int32_t lParam)
{
    const uint64_t serial = s.nextSerial++;
    s.queue.push_back(QueuedMsg{Msg{hwnd, message, wParam, lParam, Tick()}, serial, {}});
    return serial;
}

bool IsQueuedLocked(const State& s, HWND hwnd, uint32_t message)
{
    return std::any_of(s.queue.begin(), s.queue.end(),
                       [&](const QueuedMsg& q) { return q.msg.hwnd == hwnd && q.msg.message == message; });
}

void MaybeTeardownLocked(State& s)
{
    if (!s.sdlUp || s.refs > 0 || !s.windows.empty() || !s.classes.empty())
        return;
    SDL_StopTextInput();
    ReleaseCursors();
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    // Only when nobody else (the sound module) still uses SDL: SDL_Quit also
    // frees what SDL keeps between subsystem starts.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
    s.sdlUp = false;
    s.pendingKeySerial = 0;
}

uint32_t KeyStateLocked(const State& s)
{
    uint32_t k = s.mouseButtons;
    if (s.mods & KMOD_SHIFT)
        k |= MK_SHIFT;
    if (s.mods & KMOD_CTRL)
        k |= MK_CONTROL;
    return k;
}

uint32_t ButtonBitsFromSdl(uint32_t state)
{
    uint32_t k = 0;
    if (state & SDL_BUTTON_LMASK)
        k |= MK_LBUTTON;
    if (state & SDL_BUTTON_RMASK)
        k |= MK_RBUTTON;
    if (state & SDL_BUTTON_MMASK)
        k |= MK_MBUTTON;
    return k;
}

// Length of the UTF-8 sequence a lead byte starts; 0 for a stray byte.
size_t Utf8Length(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if ((lead & 0xE0) == 0xC0)
        return 2;
    if ((lead & 0xF0) == 0xE0)
        return 3;
    if ((lead & 0xF8) == 0xF0)
        return 4;
    return 0;
}

// UTF-8 text as Latin-1 bytes; characters above U+00FF and broken sequences
// are dropped (the library's text is 8-bit).
std::string Latin1FromUtf8(const std::string& in)
{
    std::string out;
    size_t i = 0;
    while (i < in.size()) {
        const auto c = static_cast<unsigned char>(in[i]);
        size_t len = Utf8Length(c);
        if (len == 0 || i + len > in.size()) {
            ++i;
            continue;
        }
        uint32_t cp = len == 1 ? c : c & (0x7Fu >> len);
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            const auto cc = static_cast<unsigned char>(in[i + k]);
            if ((cc & 0xC0) != 0x80) {
                ok = false;
                len = k;
                break;
            }
            cp = (cp << 6) | (cc & 0x3Fu);
        }
        if (ok && cp <= 0xFF && !(len == 2 && cp < 0x80))
            out.push_back(static_cast<char>(cp));
        i += len;
    }
    return out;
}

// Key-message lParam: repeat count, scan code, extended bit, context code
// (Alt down), previous state and transition state.
int32_t KeyLParam(const SDL_KeyboardEvent& k, bool up, bool alt)
{
    const uint32_t scan = ScanCodeFromSdl(k.keysym.scancode);
    uint32_t lp = 1u | ((scan & 0xFFu) << 16);
    if (scan & kScanExtended)
        lp |= 1u << 24;
    if (alt)
        lp |= 1u << 29;
    if (up || k.repeat)
        lp |= 1u << 30;
    if (up)
        lp |= 1u << 31;
    return static_cast<int32_t>(lp);
}

void TranslateWindowEventLocked(State& s, const SDL_WindowEvent& e)
{
    TvWindow* w = FindBySdlIdLocked(s, e.windowID);
    if (w == nullptr)
        return;
    switch (e.event) {
    case SDL_WINDOWEVENT_CLOSE:
        if (!IsQueuedLocked(s, w, WM_CLOSE))
            PushLocked(s, w, WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        PushLocked(s, w, WM_ACTIVATEAPP, 1, 0);
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // Keys and buttons released elsewhere never reach us.
        s.mouseButtons = 0;
        s.mods = 0;
        PushLocked(s, w, WM_ACTIVATEAPP, 0, 0);
        break;
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED: {
        if (e.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            w->width = e.data1;
            w->height = e.data2;
        } else {
            SDL_GetWindowSize(w->sdl, &w->width, &w->height);
        }
        const bool maximized = (SDL_GetWindowFlags(w->sdl) & SDL_WINDOW_MAXIMIZED) != 0;
        const uint32_t kind = maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
        PushLocked(s, w, WM_SIZE, kind, MAKELPARAM(w->width, w->height));
        break;
    }
    case SDL_WINDOWEVENT_MINIMIZED:
        PushLocked(s, w, WM_SIZE, SIZE_MINIMIZED, 0);
        break;
    case SDL_WINDOWEVENT_EXPOSED:
        // One pending paint per window covers any number of exposures.
        if (!IsQueuedLocked(s, w, WM_PAINT))
            PushLocked(s, w, WM_PAINT, 0, 0);
        break;
    default:
        break;
    }
}

void TranslateButtonLocked(State& s, const SDL_MouseButtonEvent& e)
{
    TvWindow* w = FindBySdlIdLocked(s, e.windowID);
    if (w == nullptr)
        return;
    struct Button {
        uint32_t down, up, dbl, bit;
    };
    static constexpr Button kLeft{WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, MK_LBUTTON};
    static constexpr Button kRight{WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, MK_RBUTTON};
    static constexpr Button kMiddle{WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, MK_MBUTTON};
    const Button* b = e.button == SDL_BUTTON_LEFT     ? &kLeft
                      : e.button == SDL_BUTTON_RIGHT  ? &kRight
                      : e.button == SDL_BUTTON_MIDDLE ? &kMiddle
                                                      : nullptr;
    if (b == nullptr)
        return;
    uint32_t message;
    if (e.state == SDL_PRESSED) {
        s.mouseButtons |= b->bit;
        // Every second click of a run is the double click; only classes that
        // ask for double clicks get them, the others see plain presses.
        const bool dblclk = e.clicks >= 2 && e.clicks % 2 == 0 && (w->classStyle & CS_DBLCLKS) != 0;
        message = dblclk ? b->dbl : b->down;
    } else {
        s.mouseButtons &= ~b->bit;
        message = b->up;
    }
    PushLocked(s, w, message, KeyStateLocked(s), MAKELPARAM(e.x, e.y));
}

void TranslateWheelLocked(State& s, const SDL_MouseWheelEvent& e)
{
    TvWindow* w = FindBySdlIdLocked(s, e.windowID);
    if (w == nullptr)
        return;
    // Events from older producers fill in only the whole notches.
    float notches = e.preciseY != 0.0f ? e.preciseY : static_cast<float>(e.y);
    if (e.direction == SDL_MOUSEWHEEL_FLIPPED)
        notches = -notches;
    const long delta = std::clamp(std::lround(notches * 120.0f), -32768L, 32767L);
    if (delta == 0)
        return;
#if SDL_VERSION_ATLEAST(2, 26, 0)
    const int x = e.mouseX, y = e.mouseY;
#else
    int x = 0, y = 0;
    SDL_GetMouseState(&x, &y);
#endif
    const auto high = static_cast<uint16_t>(static_cast<int16_t>(delta));
    const uint32_t wParam = (static_cast<uint32_t>(high) << 16) | (KeyStateLocked(s) & 0xFFFFu);
    PushLocked(s, w, WM_MOUSEWHEEL, wParam, MAKELPARAM(x, y));
}

void TranslateKeyLocked(State& s, const SDL_KeyboardEvent& e)
{
    TvWindow* w = FindBySdlIdLocked(s, e.windowID);
    if (w == nullptr)
        return;
    s.mods = e.keysym.mod;
    const bool up = e.type == SDL_KEYUP;
    uint32_t vk = VirtualKeyFromSdl(e.keysym.sym);
    if (vk == 0)
        vk = VirtualKeyFromSdl(UsKeycodeFromScancode(e.keysym.scancode));
    s.pendingKeySerial = 0;
    if (vk == 0)
        return;
    // Alt makes a system key, except with Ctrl (AltGr); the release of Alt
    // itself no longer shows Alt in the modifiers but is a system key too.
    const bool alt = (s.mods & KMOD_ALT) != 0;
    const bool sys = (alt || vk == VK_MENU) && (s.mods & KMOD_CTRL) == 0;
    const uint32_t message = up ? (sys ? WM_SYSKEYUP : WM_KEYUP) : (sys ? WM_SYSKEYDOWN : WM_KEYDOWN);
    const uint64_t serial = PushLocked(s, w, message, vk, KeyLParam(e, up, alt && sys));
    if (!up)
        s.pendingKeySerial = serial;
}

void TranslateTextLocked(State& s, const SDL_TextInputEvent& e)
{
    TvWindow* w = FindBySdlIdLocked(s, e.windowID);
    if (w == nullptr)
        return;
    if (s.pendingKeySerial != 0) {
        for (auto it = s.queue.rbegin(); it != s.queue.rend(); ++it) {
            if (it->serial == s.pendingKeySerial) {
                it->text += e.text;
                return;
            }
        }
    }
    // Text with no key press of its own (an input method, a key press
    // already taken off the queue) goes straight to the window as characters.
    for (char c : Latin1FromUtf8(e.text))
        PushLocked(s, w, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void TranslateLocked(State& s, const SDL_Event& e)
{
    switch (e.type) {
    case SDL_QUIT: {
        // Addressed to the main window, which decides whether to close.
        auto it = std::find_if(s.windows.begin(), s.windows.end(), [](auto& w) { return !w->destroying; });
        if (it != s.windows.end() && !IsQueuedLocked(s, it->get(), WM_CLOSE))
            PushLocked(s, it->get(), WM_CLOSE, 0, 0);
        break;
    }
    case SDL_WINDOWEVENT:
        TranslateWindowEventLocked(s, e.window);
        break;
    case SDL_MOUSEMOTION: {
        TvWindow* w = FindBySdlIdLocked(s, e.motion.windowID);
        if (w == nullptr)
            break;
        s.mouseButtons = ButtonBitsFromSdl(e.motion.state);
        const uint32_t wParam = KeyStateLocked(s);
        const int32_t lParam = MAKELPARAM(e.motion.x, e.motion.y);
        // Moves coalesce: a reader that falls behind sees where the mouse is now.
        if (!s.queue.empty() && s.queue.back().msg.message == WM_MOUSEMOVE && s.queue.back().msg.hwnd == w) {
            Msg& m = s.queue.back().msg;
            m.wParam = wParam;
            m.lParam = lParam;
            m.time = Tick();
        } else {
            PushLocked(s, w, WM_MOUSEMOVE, wParam, lParam);
        }
        break;
    }
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        TranslateButtonLocked(s, e.button);
        break;
    case SDL_MOUSEWHEEL:
        TranslateWheelLocked(s, e.wheel);
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        TranslateKeyLocked(s, e.key);
        break;
    case SDL_TEXTINPUT:
        TranslateTextLocked(s, e.text);
        break;
    default:
        break;
    }
}

void PumpLocked(State& s)
{
    if (!s.sdlUp)
        return;
    SDL_Event e;
    for (int n = 0; n < kMaxEventsPerPump && SDL_PollEvent(&e); ++n)
        TranslateLocked(s, e);
}

TvWndProc ProcOf(HWND hwnd)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* w = FindLocked(s, hwnd);
    return w != nullptr ? w->proc : nullptr;
}

bool SameMsg(const Msg& a, const Msg& b)
{
    return a.hwnd == b.hwnd && a.message == b.message && a.wParam == b.wParam && a.lParam == b.lParam &&
           a.time == b.time;
}

} // namespace

// ---------------------------------------------------------------- start and stop

bool VideoStartup()
{
    State& s = S();
    std::lock_guard g(s.lock);
    if (s.sdlUp) {
        ++s.refs;
        return true;
    }
    const bool headless = !HasEnv("DISPLAY") && !HasEnv("WAYLAND_DISPLAY");
    const bool chooseVideo = headless && !HasEnv("SDL_VIDEODRIVER");
    if (chooseVideo)
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
    if (headless && !HasEnv("SDL_AUDIODRIVER"))
        SDL_SetHint(SDL_HINT_AUDIODRIVER, "dummy");
    // A library leaves the host's SIGINT/SIGTERM alone, and closing the last
    // window is the application's business (WM_CLOSE), not a quit request.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // The screens draw in software: window surfaces are plain pixel memory,
    // never a texture of a GPU renderer.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    int rc = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    if (rc != 0 && chooseVideo) {
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "dummy");
        rc = SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    }
    if (rc != 0) {
        // A failed start can leave SDL's helpers (D-Bus) behind.
        if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
            SDL_Quit();
        return false;
    }
    SDL_StartTextInput();
    s.sdlUp = true;
    s.refs = 1;
    s.mouseButtons = 0;
    s.mods = 0;
    s.pendingKeySerial = 0;
    return true;
}

void VideoShutdown()
{
    State& s = S();
    std::lock_guard g(s.lock);
    if (s.refs > 0)
        --s.refs;
    MaybeTeardownLocked(s);
}

// ---------------------------------------------------------------- classes

uint16_t RegisterClass(const char* name, TvWndProc proc, uint32_t style)
{
    if (name == nullptr || *name == '\0' || proc == nullptr)
        return 0;
    State& s = S();
    std::lock_guard g(s.lock);
    if (FindClassLocked(s, name) != nullptr)
        return 0;
    // Atoms come from the range classic registered classes use; skip live ones.
    for (int tries = 0; tries < 0x4000; ++tries) {
        const uint16_t atom = s.nextAtom;
        s.nextAtom = s.nextAtom == 0xFFFF ? 0xC000 : static_cast<uint16_t>(s.nextAtom + 1);
        const bool used =
            std::any_of(s.classes.begin(), s.classes.end(), [&](auto& c) { return c.atom == atom; });
        if (!used) {
            s.classes.push_back(WindowClass{name, proc, style, atom});
            return atom;
        }
    }
    return 0;
}

bool UnregisterClass(const char* name)
{
    if (name == nullptr)
        return false;
    State& s = S();
    std::lock_guard g(s.lock);
    WindowClass* c = FindClassLocked(s, name);
    if (c == nullptr)
        return false;
    // A class stays while windows of it exist.
    for (auto& w : s.windows)
        if (strcasecmp(w->className.c_str(), c->name.c_str()) == 0)
            return false;
    s.classes.erase(s.classes.begin() + (c - s.classes.data()));
    MaybeTeardownLocked(s);
    return true;
}

// ---------------------------------------------------------------- windows

HWND CreateWindow(const char* className, const char* title, uint32_t style, int32_t x, int32_t y, int32_t w,
                  int32_t h)
{
    if (className == nullptr)
        return nullptr;
    State& s = S();
    HWND hwnd = nullptr;
    TvWndProc proc = nullptr;
    {
        std::lock_guard g(s.lock);
        const WindowClass* cls = FindClassLocked(s, className);
        if (!s.sdlUp || cls == nullptr)
            return nullptr;
        uint32_t flags = (style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
        if (style & WS_POPUP)
            flags |= SDL_WINDOW_BORDERLESS;
        const int sx = x == kUseDefault ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
        const int sy = y == kUseDefault ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
        const int sw = w == kUseDefault ? kDefaultWidth : std::max(1, w);
        const int sh = h == kUseDefault ? kDefaultHeight : std::max(1, h);
        const char* text = title != nullptr ? title : "";
        SDL_Window* sdl = SDL_CreateWindow(text, sx, sy, sw, sh, flags);
        if (sdl == nullptr)
            return nullptr;
        auto win = std::make_unique<TvWindow>();
        win->sdl = sdl;
        win->sdlId = SDL_GetWindowID(sdl);
        win->proc = proc = cls->proc;
        win->classStyle = cls->style;
        win->className = cls->name;
        win->title = text;
        win->style = style;
        SDL_GetWindowSize(sdl, &win->width, &win->height);
        hwnd = win.get();
        s.windows.push_back(std::move(win));
    }
    // As with the classic system, -1 from WM_CREATE refuses the window.
    if (proc(hwnd, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    return IsWindow(hwnd) ? hwnd : nullptr;
}

bool DestroyWindow(HWND hwnd)
{
    State& s = S();
    TvWndProc proc = nullptr;
    {
        std::lock_guard g(s.lock);
        TvWindow* w = FindLocked(s, hwnd);
        if (w == nullptr || w->destroying)
            return false;
        w->destroying = true;
        proc = w->proc;
    }
    proc(hwnd, WM_DESTROY, 0, 0);

    std::unique_ptr<TvWindow> dead;
    std::lock_guard g(s.lock);
    auto it = std::find_if(s.windows.begin(), s.windows.end(), [&](auto& p) { return p.get() == hwnd; });
    if (it == s.windows.end())
        return false;
    dead = std::move(*it);
    s.windows.erase(it);
    // Nothing addressed to the window may surface after it is gone.
    std::erase_if(s.queue, [&](const QueuedMsg& q) { return q.msg.hwnd == hwnd; });
    if (s.lastValid && s.lastRemoved.hwnd == hwnd)
        s.lastValid = false;
    SDL_DestroyWindow(dead->sdl);
    MaybeTeardownLocked(s);
    return true;
}

bool IsWindow(HWND hwnd)
{
    State& s = S();
    std::lock_guard g(s.lock);
    return FindLocked(s, hwnd) != nullptr;
}

void ShowWindow(HWND hwnd, int32_t cmd)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* w = FindLocked(s, hwnd);
    if (w == nullptr)
        return;
    if (cmd == SW_HIDE)
        SDL_HideWindow(w->sdl);
    else if (cmd == SW_MINIMIZE)
        SDL_MinimizeWindow(w->sdl);
    else if (cmd == SW_RESTORE)
        SDL_RestoreWindow(w->sdl);
    else
        SDL_ShowWindow(w->sdl);
}

void UpdateWindow(HWND hwnd)
{
    // Paints at once when a paint is pending, instead of when the queue gets to it.
    State& s = S();
    TvWndProc proc = nullptr;
    {
        std::lock_guard g(s.lock);
        TvWindow* w = FindLocked(s, hwnd);
        if (w == nullptr)
            return;
        PumpLocked(s);
        auto it = std::find_if(s.queue.begin(), s.queue.end(), [&](const QueuedMsg& q) {
            return q.msg.hwnd == hwnd && q.msg.message == WM_PAINT;
        });
        if (it == s.queue.end())
            return;
        s.queue.erase(it);
        proc = w->proc;
    }
    proc(hwnd, WM_PAINT, 0, 0);
}

bool SetWindowPos(HWND hwnd, int32_t x, int32_t y, int32_t w, int32_t h)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* win = FindLocked(s, hwnd);
    if (win == nullptr)
        return false;
    SDL_SetWindowPosition(win->sdl, x, y);
    SDL_SetWindowSize(win->sdl, std::max(1, w), std::max(1, h));
    SDL_GetWindowSize(win->sdl, &win->width, &win->height);
    return true;
}

bool SetWindowText(HWND hwnd, const char* title)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* w = FindLocked(s, hwnd);
    if (w == nullptr)
        return false;
    w->title = title != nullptr ? title : "";
    SDL_SetWindowTitle(w->sdl, w->title.c_str());
    return true;
}

HDC GetDC(HWND hwnd)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* w = FindLocked(s, hwnd);
    return w != nullptr ? &w->dc : nullptr;
}

void ReleaseDC(HWND, HDC)
{
    // The DC belongs to its window for the window's whole life.
}

SDL_Window* SdlWindow(HWND hwnd)
{
    State& s = S();
    std::lock_guard g(s.lock);
    TvWindow* w = FindLocked(s, hwnd);
    return w != nullptr ? w->sdl : nullptr;
}

HWND WindowFromDC(HDC dc)
{
    if (dc == nullptr)
        return nullptr;
    State& s = S();
    std::lock_guard g(s.lock);
    for (auto& w : s.windows)
        if (&w->dc == dc)
            return w.get();
    return nullptr;
}

// ---------------------------------------------------------------- messages

bool PeekMessage(Msg& out, bool remove)
{
    State& s = S();
    std::lock_guard g(s.lock);
    PumpLocked(s);
    if (s.queue.empty())
        return false;
    out = s.queue.front().msg;
    if (remove) {
        s.lastRemoved = out;
        s.lastText = std::move(s.queue.front().text);
        s.lastValid = true;
        if (s.pendingKeySerial == s.queue.front().serial)
            s.pendingKeySerial = 0;
        s.queue.pop_front();
    }
    return true;
}

void TranslateMessage(const Msg& msg)
{
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)
        return;
    State& s = S();
    std::lock_guard g(s.lock);
    if (FindLocked(s, msg.hwnd) == nullptr)
        return;
    std::string chars;
    if (s.lastValid && SameMsg(s.lastRemoved, msg)) {
        chars = Latin1FromUtf8(s.lastText);
        s.lastText.clear();
        s.lastValid = false;
    }
    if (chars.empty()) {
        // Keys that type control characters: SDL reports no text for them.
        // (A character pushed, not a literal assigned: GCC 12 warns falsely
        // about overlapping copies when a string is assigned a literal.)
        switch (msg.wParam) {
        case VK_RETURN: chars.push_back('\r'); break;
        case VK_BACK: chars.push_back('\b'); break;
        case VK_TAB: chars.push_back('\t'); break;
        case VK_ESCAPE: chars.push_back('\x1b'); break;
        default: break;
        }
    }
    // The characters come next, ahead of whatever was queued after the key.
    const uint32_t charMsg = msg.message == WM_SYSKEYDOWN ? WM_SYSCHAR : WM_CHAR;
    for (auto c = chars.rbegin(); c != chars.rend(); ++c) {
        const Msg ch{msg.hwnd, charMsg, static_cast<unsigned char>(*c), msg.lParam, Tick()};
        s.queue.push_front(QueuedMsg{ch, s.nextSerial++, {}});
    }
}

int32_t DispatchMessage(const Msg& msg)
{
    TvWndProc proc = ProcOf(msg.hwnd);
    return proc != nullptr ? proc(msg.hwnd, msg.message, msg.wParam, msg.lParam) : 0;
}

int32_t DefWindowProc(HWND hwnd, uint32_t msg, uint32_t, int32_t)
{
    if (msg == WM_CLOSE)
        DestroyWindow(hwnd);
    return 0;
}

void PostQuitMessage(int32_t exitCode)
{
    State& s = S();
    std::lock_guard g(s.lock);
    PushLocked(s, nullptr, WM_QUIT, static_cast<uint32_t>(exitCode), 0);
}

bool PostMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    State& s = S();
    std::lock_guard g(s.lock);
    // A null window makes a thread message; any other must be alive.
    if (hwnd != nullptr && FindLocked(s, hwnd) == nullptr)
        return false;
    PushLocked(s, hwnd, msg, wParam, lParam);
    return true;
}

int32_t SendMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    TvWndProc proc = ProcOf(hwnd);
    return proc != nullptr ? proc(hwnd, msg, wParam, lParam) : 0;
}

bool TestPostMessage(HWND hwnd, uint32_t msg, uint32_t wParam, int32_t lParam)
{
    return PostMessage(hwnd, msg, wParam, lParam);
}

} // namespace tvp
