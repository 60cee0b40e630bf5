// The mouse pointer over SDL2: where it is in a window, moving it there
// (the mouse's relative mode keeps it in the middle of the window), and the
// pictures it shows. Cursors are handed out as small numbers rather than SDL
// pointers because SDL frees every cursor when the video system stops: a
// number that outlived its cursor is simply unknown, never a dangling pointer.
#include "platform/platform.h"

#include <SDL2/SDL.h>

#include <map>

namespace tvp
{

namespace
{

struct Cursors {
    std::map<int32_t, SDL_Cursor*> live;
    int32_t next = 1;
    int32_t current = 0;
};

// Never destroyed: other modules' static destructors may still call in.
Cursors& C()
{
    static Cursors* c = new Cursors;
    return *c;
}

bool VideoUp() { return SDL_WasInit(SDL_INIT_VIDEO) != 0; }

int32_t Keep(SDL_Cursor* cursor)
{
    if (cursor == nullptr)
        return 0;
    Cursors& c = C();
    const int32_t id = c.next++;
    c.live[id] = cursor;
    return id;
}

} // namespace

bool HasMouse() { return VideoUp(); }

bool GetClientSize(HWND hwnd, int32_t& w, int32_t& h)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return false;
    int sw = 0, sh = 0;
    SDL_GetWindowSize(win, &sw, &sh);
    w = sw;
    h = sh;
    return true;
}

bool GetMousePos(HWND hwnd, int32_t& x, int32_t& y)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return false;
    int px = 0, py = 0;
    if (SDL_GetMouseFocus() == win) {
        SDL_GetMouseState(&px, &py);
    } else {
        // The pointer is elsewhere: its desktop position, seen from the window.
        int wx = 0, wy = 0;
        SDL_GetGlobalMouseState(&px, &py);
        SDL_GetWindowPosition(win, &wx, &wy);
        px -= wx;
        py -= wy;
    }
    x = px;
    y = py;
    return true;
}

bool WarpMouse(HWND hwnd, int32_t x, int32_t y)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return false;
    SDL_WarpMouseInWindow(win, x, y);
    return true;
}

int32_t LoadSystemCursor(SystemCursor kind)
{
    if (!VideoUp())
        return 0;
    const SDL_SystemCursor id = kind == SystemCursor::Hand    ? SDL_SYSTEM_CURSOR_HAND
                                : kind == SystemCursor::IBeam ? SDL_SYSTEM_CURSOR_IBEAM
                                                              : SDL_SYSTEM_CURSOR_ARROW;
    return Keep(SDL_CreateSystemCursor(id));
}

int32_t CreateColorCursor(const uint8_t* rgba, int32_t w, int32_t h, int32_t hotX, int32_t hotY)
{
    if (!VideoUp() || rgba == nullptr || w <= 0 || h <= 0 || w > 4096 || h > 4096)
        return 0;
    // SDL copies the pixels into the cursor; the surface only lends them.
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(const_cast<uint8_t*>(rgba), w, h, 32, w * 4,
                                                        SDL_PIXELFORMAT_RGBA32);
    if (s == nullptr)
        return 0;
    const int hx = hotX < 0 ? 0 : hotX >= w ? w - 1 : hotX;
    const int hy = hotY < 0 ? 0 : hotY >= h ? h - 1 : hotY;
    SDL_Cursor* cursor = SDL_CreateColorCursor(s, hx, hy);
    SDL_FreeSurface(s);
    return Keep(cursor);
}

void FreeCursor(int32_t cursor)
{
    Cursors& c = C();
    auto it = c.live.find(cursor);
    if (it == c.live.end())
        return;
    if (c.current == cursor)
        c.current = 0;
    if (VideoUp())
        SDL_FreeCursor(it->second);
    c.live.erase(it);
}

bool SetCursor(int32_t cursor)
{
    Cursors& c = C();
    auto it = c.live.find(cursor);
    if (it == c.live.end() || !VideoUp())
        return false;
    SDL_SetCursor(it->second);
    c.current = cursor;
    return true;
}

int32_t GetCursor() { return C().current; }

void ShowCursor(bool show)
{
    if (VideoUp())
        SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

bool IsCursorShown() { return VideoUp() && SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; }

void ReleaseCursors()
{
    Cursors& c = C();
    for (auto& [id, cursor] : c.live)
        SDL_FreeCursor(cursor);
    c.live.clear();
    c.current = 0;
}

} // namespace tvp
