// Surfaces of the full-screen screen over SDL2: the two page buffers and the
// screen bitmaps are SDL surfaces in the screen's format, so a screen bitmap
// is copied onto a page by SDL's blitter, with SDL_SetColorKey for the
// transparent ones. All 8-bit surfaces share one SDL palette: SDL then sees
// equal palettes and copies indices unchanged, and the page shown in the
// window gets the screen's colours. A surface also carries a lost mark, the
// state a display surface is in after the display was taken away; marking
// one lost spoils its pixels so that a repaint is really needed.
#include "platform/platform.h"
#include "platform/sdlformat.h"

#include <SDL2/SDL.h>

#include <cstring>

struct tvp::PixelSurface {
    SDL_Surface* surface;
    bool lost;
    // The colour key as last set: setting it again would make SDL build its
    // copy routine anew on the next blit.
    bool keyOn;
    uint32_t key;
};

namespace tvp
{

namespace
{
SDL_Palette* g_sharedPalette = nullptr;

SDL_Palette* SharedPalette()
{
    if (g_sharedPalette == nullptr) {
        g_sharedPalette = SDL_AllocPalette(256);
        if (g_sharedPalette != nullptr) {
            SDL_Color grey[256];
            for (int32_t i = 0; i < 256; ++i) {
                const auto v = static_cast<Uint8>(i);
                grey[i] = SDL_Color{v, v, v, 255};
            }
            SDL_SetPaletteColors(g_sharedPalette, grey, 0, 256);
        }
    }
    return g_sharedPalette;
}
} // namespace

PixelSurface* CreatePixelSurface(uint8_t* pixels, int32_t width, int32_t height, int32_t pitch, int32_t bits,
                                 uint32_t redMask, uint32_t greenMask, uint32_t blueMask)
{
    if (width <= 0 || height <= 0)
        return nullptr;
    const uint32_t format =
        SurfaceFormat(bits, SDL_MasksToPixelFormatEnum(16, redMask, greenMask, blueMask, 0));
    if (format == SDL_PIXELFORMAT_UNKNOWN)
        return nullptr;
    SDL_Surface* s = pixels != nullptr
                         ? SDL_CreateRGBSurfaceWithFormatFrom(pixels, width, height, bits, pitch, format)
                         : SDL_CreateRGBSurfaceWithFormat(0, width, height, bits, format);
    if (s == nullptr)
        return nullptr;
    SDL_SetSurfaceBlendMode(s, SDL_BLENDMODE_NONE);
    if (bits == 8) {
        SDL_Palette* shared = SharedPalette();
        if (shared == nullptr || SDL_SetSurfacePalette(s, shared) != 0) {
            SDL_FreeSurface(s);
            return nullptr;
        }
    }
    return new PixelSurface{s, false, false, 0};
}

void DestroyPixelSurface(PixelSurface* surface)
{
    if (surface == nullptr)
        return;
    SDL_FreeSurface(surface->surface);
    delete surface;
}

bool FillPixelSurface(PixelSurface* surface, const uint8_t* pixels, int32_t pitch)
{
    if (surface == nullptr || pixels == nullptr || surface->lost)
        return false;
    SDL_Surface* s = surface->surface;
    if (SDL_LockSurface(s) != 0)
        return false;
    const size_t line = static_cast<size_t>(s->w) * s->format->BytesPerPixel;
    for (int32_t y = 0; y < s->h; ++y)
        std::memcpy(static_cast<uint8_t*>(s->pixels) + static_cast<ptrdiff_t>(y) * s->pitch,
                    pixels + static_cast<ptrdiff_t>(y) * pitch, line);
    SDL_UnlockSurface(s);
    return true;
}

bool SetPixelSurfaceKey(PixelSurface* surface, bool on, uint32_t key)
{
    if (surface == nullptr)
        return false;
    if (surface->keyOn == on && (!on || surface->key == key))
        return true;
    if (SDL_SetColorKey(surface->surface, on ? SDL_TRUE : SDL_FALSE, key) != 0)
        return false;
    surface->keyOn = on;
    surface->key = key;
    return true;
}

bool BlitPixelSurface(PixelSurface* src, int32_t sx, int32_t sy, int32_t w, int32_t h, PixelSurface* dst,
                      int32_t dx, int32_t dy)
{
    if (src == nullptr || dst == nullptr || src->lost || dst->lost)
        return false;
    SDL_Rect from{sx, sy, w, h};
    SDL_Rect to{dx, dy, w, h};
    return SDL_BlitSurface(src->surface, &from, dst->surface, &to) == 0;
}

bool SetPixelSurfaceColors(const uint8_t* rgbx, int32_t first, int32_t count)
{
    SDL_Palette* pal = SharedPalette();
    if (pal == nullptr || rgbx == nullptr || first < 0 || count <= 0 || first + count > 256)
        return false;
    SDL_Color colors[256];
    for (int32_t i = 0; i < count; ++i)
        colors[i] = SDL_Color{rgbx[4 * i], rgbx[4 * i + 1], rgbx[4 * i + 2], 255};
    return SDL_SetPaletteColors(pal, colors, first, count) == 0;
}

bool PresentPixelSurface(PixelSurface* surface, HWND hwnd, int32_t& offsetX, int32_t& offsetY)
{
    SDL_Window* win = SdlWindow(hwnd);
    if (surface == nullptr || win == nullptr || surface->lost)
        return false;
    SDL_Surface* target = SDL_GetWindowSurface(win);
    if (target == nullptr)
        return false;
    SDL_Surface* s = surface->surface;
    offsetX = target->w > s->w ? (target->w - s->w) / 2 : 0;
    offsetY = target->h > s->h ? (target->h - s->h) / 2 : 0;
    if (target->w != s->w || target->h != s->h) {
        // Only the border around the picture is cleared.
        const Uint32 black = SDL_MapRGB(target->format, 0, 0, 0);
        const SDL_Rect border[4] = {{0, 0, target->w, offsetY},
                                    {0, offsetY + s->h, target->w, target->h - offsetY - s->h},
                                    {0, offsetY, offsetX, s->h},
                                    {offsetX + s->w, offsetY, target->w - offsetX - s->w, s->h}};
        for (const SDL_Rect& r : border)
            if (r.w > 0 && r.h > 0)
                SDL_FillRect(target, &r, black);
    }
    SDL_Rect to{offsetX, offsetY, s->w, s->h};
    if (SDL_BlitSurface(s, nullptr, target, &to) != 0)
        return false;
    return SDL_UpdateWindowSurface(win) == 0;
}

bool IsPixelSurfaceLost(const PixelSurface* surface) { return surface != nullptr && surface->lost; }

void MarkPixelSurfaceLost(PixelSurface* surface)
{
    if (surface == nullptr)
        return;
    surface->lost = true;
    SDL_Surface* s = surface->surface;
    if (SDL_LockSurface(s) == 0) {
        for (int32_t y = 0; y < s->h; ++y)
            std::memset(static_cast<uint8_t*>(s->pixels) + static_cast<ptrdiff_t>(y) * s->pitch, 0xA5,
                        static_cast<size_t>(s->w) * s->format->BytesPerPixel);
        SDL_UnlockSurface(s);
    }
}

bool RestorePixelSurface(PixelSurface* surface)
{
    if (surface == nullptr)
        return false;
    surface->lost = false;
    return true;
}

} // namespace tvp
