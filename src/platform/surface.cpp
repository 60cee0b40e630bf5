// Drawing surfaces over SDL2: the library's own pixel memory wrapped in an
// SDL surface (8-bit with an SDL palette, 5-5-5, or blue-green-red 24-bit
// exactly as the library's bitmaps hold it), copied rectangle by rectangle
// into a window's surface and shown with one rectangle update; the desktop
// mode; window frames and the cursor.
#include "platform/platform.h"
#include "platform/sdlformat.h"

#include <SDL2/SDL.h>

struct tvp::Section {
    SDL_Surface* surface;
};

namespace tvp
{

Section* CreateSection(uint8_t* pixels, int32_t width, int32_t height, int32_t pitch, int32_t bits)
{
    if (pixels == nullptr || width <= 0 || height <= 0 || pitch <= 0)
        return nullptr;
    const uint32_t format = SurfaceFormat(bits, SDL_PIXELFORMAT_RGB555);
    if (format == SDL_PIXELFORMAT_UNKNOWN)
        return nullptr;
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(pixels, width, height, bits, pitch, format);
    if (s == nullptr)
        return nullptr;
    // Plain copies: no blending, no colour key.
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    auto* section = new Section{s};
    return section;
}

void DestroySection(Section* section)
{
    if (section == nullptr)
        return;
    SDL_FreeSurface(section->surface);
    delete section;
}

bool SetSectionColors(Section* section, const uint8_t* rgbx, int32_t first, int32_t count)
{
    if (section == nullptr || rgbx == nullptr || first < 0 || count <= 0 || first + count > 256)
        return false;
    SDL_Palette* pal = section->surface->format->palette;
    if (pal == nullptr)
        return false;
    SDL_Color colors[256];
    for (int32_t i = 0; i < count; ++i)
        colors[i] = SDL_Color{rgbx[4 * i], rgbx[4 * i + 1], rgbx[4 * i + 2], 255};
    return SDL_SetPaletteColors(pal, colors, first, count) == 0;
}

bool CopySectionToWindow(Section* section, HWND hwnd, const CopyRect* rects, int32_t count, int32_t offsetX,
                         int32_t offsetY)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (section == nullptr || win == nullptr)
        return false;
    SDL_Surface* target = SDL_GetWindowSurface(win);
    if (target == nullptr)
        return false;
    // Shown in batches from a fixed array: no allocation per frame.
    constexpr int32_t kBatch = 128;
    SDL_Rect shown[kBatch];
    int32_t n = 0;
    bool ok = true;
    for (int32_t i = 0; i < count && ok; ++i) {
        SDL_Rect src{rects[i].x, rects[i].y, rects[i].w, rects[i].h};
        SDL_Rect dst{offsetX + rects[i].x, offsetY + rects[i].y, rects[i].w, rects[i].h};
        if (SDL_BlitSurface(section->surface, &src, target, &dst) != 0)
            ok = false;
        else if (dst.w > 0 && dst.h > 0)
            shown[n++] = dst;
        if (n == kBatch || (i == count - 1 && n > 0)) {
            if (SDL_UpdateWindowSurfaceRects(win, shown, n) != 0)
                ok = false;
            n = 0;
        }
    }
    if (!ok && n > 0)
        SDL_UpdateWindowSurfaceRects(win, shown, n);
    return ok;
}

bool DesktopMode(int32_t& width, int32_t& height, int32_t& bits)
{
    SDL_DisplayMode mode;
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0 || SDL_GetDesktopDisplayMode(0, &mode) != 0)
        return false;
    width = mode.w;
    height = mode.h;
    bits = static_cast<int32_t>(SDL_BITSPERPIXEL(mode.format));
    return true;
}

void SetWindowFrame(HWND hwnd, bool border, bool resizable)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return;
    SDL_SetWindowBordered(win, border ? SDL_TRUE : SDL_FALSE);
    SDL_SetWindowResizable(win, resizable ? SDL_TRUE : SDL_FALSE);
}

bool GetWindowRect(HWND hwnd, int32_t& x, int32_t& y, int32_t& w, int32_t& h)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (win == nullptr)
        return false;
    int ix = 0, iy = 0, iw = 0, ih = 0;
    SDL_GetWindowPosition(win, &ix, &iy);
    SDL_GetWindowSize(win, &iw, &ih);
    x = ix, y = iy, w = iw, h = ih;
    return true;
}

void SetArrowCursor()
{
    // SDL's default cursor is the arrow; it lives as long as the video system.
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0)
        SDL_SetCursor(SDL_GetDefaultCursor());
}

} // namespace tvp
