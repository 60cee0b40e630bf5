// Full-screen services of the platform layer: the display's mode sizes and
// taking the whole display with the main window (an exclusive mode of the
// wanted size when the display has one, else the desktop-sized full screen).
#include "platform.h"

#include <SDL.h>

namespace tvp
{

int32_t DisplaySizes(int32_t* pairs, int32_t max)
{
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || pairs == nullptr || max <= 0)
        return 0;
    const int32_t n = SDL_GetNumDisplayModes(0);
    int32_t count = 0;
    for (int32_t i = 0; i < n && count < max; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) != 0 || mode.w <= 0 || mode.h <= 0)
            continue;
        bool seen = false;
        for (int32_t k = 0; k < count && !seen; ++k)
            seen = pairs[2 * k] == mode.w && pairs[2 * k + 1] == mode.h;
        if (!seen) {
            pairs[2 * count] = mode.w;
            pairs[2 * count + 1] = mode.h;
            ++count;
        }
    }
    return count;
}

namespace
{
// The window's place before it took the display, given back on leaving.
struct Windowed {
    SDL_Window* window = nullptr;
    int32_t x = 0, y = 0, w = 0, h = 0;
} g_windowed;
} // namespace

bool SetWindowFullScreen(HWND hwnd, bool on, int32_t width, int32_t height)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return false;
    if (!on) {
        if (SDL_SetWindowFullscreen(win, 0) != 0)
            return false;
        // Without a window manager the window keeps the display's size.
        if (g_windowed.window == win && g_windowed.w > 0 && g_windowed.h > 0) {
            SDL_SetWindowSize(win, g_windowed.w, g_windowed.h);
            SDL_SetWindowPosition(win, g_windowed.x, g_windowed.y);
        }
        g_windowed.window = nullptr;
        return true;
    }
    if ((SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN) == 0) {
        g_windowed.window = win;
        SDL_GetWindowPosition(win, &g_windowed.x, &g_windowed.y);
        SDL_GetWindowSize(win, &g_windowed.w, &g_windowed.h);
    }
    // Without a window manager nobody acts on the full-screen request and
    // the window would keep its place and size: it covers the display
    // itself first (a window manager then makes it full screen as asked).
    SDL_Rect bounds{0, 0, 0, 0};
    SDL_GetDisplayBounds(0, &bounds);
    const auto cover = [&](int32_t w, int32_t h) {
        SDL_SetWindowPosition(win, bounds.x, bounds.y);
        SDL_SetWindowSize(win, w, h);
    };
    SDL_DisplayMode want{};
    want.w = width;
    want.h = height;
    SDL_DisplayMode got;
    if (SDL_GetClosestDisplayMode(0, &want, &got) != nullptr && got.w == width && got.h == height) {
        cover(width, height);
        if (SDL_SetWindowDisplayMode(win, &got) == 0 &&
            SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN) == 0)
            return true;
    }
    SDL_DisplayMode desktop;
    if (SDL_GetDesktopDisplayMode(0, &desktop) == 0)
        cover(desktop.w, desktop.h);
    return SDL_SetWindowFullscreen(win, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0;
}

} // namespace tvp
