// Drawing surfaces over SDL2: the library's own pixel memory wrapped in an
// SDL surface (8-bit with an SDL palette, 5-5-5, or blue-green-red 24-bit
// exactly as the library's bitmaps hold it), copied rectangle by rectangle
// into a window's surface and shown with one rectangle update; the desktop
// mode; window frames and the cursor.
#include "platform/platform.h"
#include "platform/sdlformat.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <cstring>

namespace
{
// The window copy of a 5-5-5 section into a 32-bit window surface through
// one small table per colour field. SDL's own converter for that pair
// spends several nanoseconds a pixel, so showing a frame cost more than
// drawing it. The tables hold SDL's results (every 16-bit value is
// converted once through SDL into the window's format) and are used only
// when the OR of the three fields' entries reproduces every one of them and
// the target's previous contents play no part: the window receives exactly
// the bytes SDL would write.
struct WindowTables {
    uint32_t format = SDL_PIXELFORMAT_UNKNOWN; // the window format they were built for
    bool usable = false;
    uint32_t red[32] = {}, green[32] = {}, blue[32] = {};
    uint32_t Convert(uint32_t v) const { return red[(v >> 10) & 31] | green[(v >> 5) & 31] | blue[v & 31]; }
};

bool BuildWindowTables(WindowTables& t, const SDL_Surface* section, const SDL_Surface* target)
{
    t.format = target->format->format;
    t.usable = false;
    if (section->format->format != SDL_PIXELFORMAT_RGB555 || target->format->BytesPerPixel != 4)
        return false;
    SDL_Surface* all = SDL_CreateRGBSurfaceWithFormat(0, 256, 256, 16, SDL_PIXELFORMAT_RGB555);
    SDL_Surface* out[2] = {SDL_CreateRGBSurfaceWithFormat(0, 256, 256, 32, t.format),
                           SDL_CreateRGBSurfaceWithFormat(0, 256, 256, 32, t.format)};
    bool ok = all != nullptr && out[0] != nullptr && out[1] != nullptr;
    if (ok) {
        SDL_SetSurfaceBlendMode(all, SDL_BLENDMODE_NONE);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                reinterpret_cast<uint16_t*>(static_cast<uint8_t*>(all->pixels) + y * all->pitch)[x] =
                    static_cast<uint16_t>(y << 8 | x);
        for (int k = 0; k < 2 && ok; ++k) {
            for (int y = 0; y < 256; ++y)
                std::memset(static_cast<uint8_t*>(out[k]->pixels) + y * out[k]->pitch, k == 0 ? 0x00 : 0xFF,
                            256 * 4);
            ok = SDL_BlitSurface(all, nullptr, out[k], nullptr) == 0;
        }
    }
    auto at = [&](int k, int v) {
        return reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(out[k]->pixels) +
                                                 (v >> 8) * out[k]->pitch)[v & 255];
    };
    if (ok) {
        for (int i = 0; i < 32; ++i) {
            t.red[i] = at(0, i << 10);
            t.green[i] = at(0, i << 5);
            t.blue[i] = at(0, i);
        }
        for (int v = 0; v < 65536 && ok; ++v)
            ok = at(0, v) == at(1, v) && at(0, v) == t.Convert(static_cast<uint32_t>(v));
    }
    SDL_FreeSurface(all);
    SDL_FreeSurface(out[0]);
    SDL_FreeSurface(out[1]);
    t.usable = ok;
    return ok;
}

// SDL_BlitSurface's clipping (to the source surface, then to the target's
// clip rectangle) and copy through the tables; dst receives the rectangle
// written, empty when none.
void BlitThroughTables(const WindowTables& t, SDL_Surface* from, const SDL_Rect& src, SDL_Surface* to,
                       SDL_Rect& dst)
{
    int sx = src.x, sy = src.y, w = src.w, h = src.h, dx = dst.x, dy = dst.y;
    if (sx < 0)
        w += sx, dx -= sx, sx = 0;
    if (sy < 0)
        h += sy, dy -= sy, sy = 0;
    w = std::min(w, from->w - sx);
    h = std::min(h, from->h - sy);
    const SDL_Rect& c = to->clip_rect;
    if (dx < c.x)
        w -= c.x - dx, sx += c.x - dx, dx = c.x;
    if (dy < c.y)
        h -= c.y - dy, sy += c.y - dy, dy = c.y;
    w = std::min(w, c.x + c.w - dx);
    h = std::min(h, c.y + c.h - dy);
    if (w <= 0 || h <= 0) {
        dst.w = dst.h = 0;
        return;
    }
    dst = SDL_Rect{dx, dy, w, h};
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = static_cast<const uint8_t*>(from->pixels) + (sy + y) * from->pitch + sx * 2;
        uint8_t* d = static_cast<uint8_t*>(to->pixels) + (dy + y) * to->pitch + dx * 4;
        for (int x = 0; x < w; ++x, s += 2, d += 4) {
            uint16_t p;
            std::memcpy(&p, s, 2);
            const uint32_t v = t.Convert(p);
            std::memcpy(d, &v, 4);
        }
    }
}
} // namespace

struct tvp::Section {
    SDL_Surface* surface;
    WindowTables tables;
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
    auto* section = new Section{s, {}};
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
    WindowTables& tables = section->tables;
    if (tables.format != target->format->format)
        BuildWindowTables(tables, section->surface, target);
    const bool locked = tables.usable && SDL_MUSTLOCK(target) && SDL_LockSurface(target) == 0;
    const bool direct = tables.usable && (!SDL_MUSTLOCK(target) || locked);
    // Shown in batches from a fixed array: no allocation per frame.
    constexpr int32_t kBatch = 128;
    SDL_Rect shown[kBatch];
    int32_t n = 0;
    bool ok = true;
    for (int32_t i = 0; i < count && ok; ++i) {
        SDL_Rect src{rects[i].x, rects[i].y, rects[i].w, rects[i].h};
        SDL_Rect dst{offsetX + rects[i].x, offsetY + rects[i].y, rects[i].w, rects[i].h};
        if (direct)
            BlitThroughTables(tables, section->surface, src, target, dst);
        else if (SDL_BlitSurface(section->surface, &src, target, &dst) != 0)
            ok = false;
        if (ok && dst.w > 0 && dst.h > 0)
            shown[n++] = dst;
        if (n == kBatch || (i == count - 1 && n > 0)) {
            if (locked)
                SDL_UnlockSurface(target);
            if (SDL_UpdateWindowSurfaceRects(win, shown, n) != 0)
                ok = false;
            if (locked && SDL_LockSurface(target) != 0)
                ok = false;
            n = 0;
        }
    }
    if (locked)
        SDL_UnlockSurface(target);
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
