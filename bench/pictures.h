// Pictures shared by the blit benchmarks: the screens' three layouts with
// their SDL twins, a fixed 8-bit palette, a noisy picture with patches of
// the key value, and SDL surfaces over a bitmap's own pixels (so both sides
// read and write the same memory); and the library started as a
// benchmark needs it.
#pragma once

#include <tarvex/bitmap.h>
#include <tarvex/frame.h>

#include <SDL.h>

#include <cstdint>
#include <unistd.h>

namespace benchpic
{

struct Layout {
    int bits;
    uint32_t sdl;
};
// The screens' layouts: 8-bit indexed, 5-6-5, and blue-green-red bytes.
const Layout kL8{8, SDL_PIXELFORMAT_INDEX8};
const Layout kL16{16, SDL_PIXELFORMAT_RGB565};
const Layout kL24{24, SDL_PIXELFORMAT_BGR24};

inline CPalette& Palette()
{
    static CPalette* pal = [] {
        auto* p = new CPalette;
        for (int i = 0; i < 256; ++i)
            p->colors[i] =
                TRGBA(static_cast<uint8_t>((i & 7) * 36), static_cast<uint8_t>(((i >> 3) & 7) * 36),
                      static_cast<uint8_t>((i >> 6) * 85));
        return p;
    }();
    return *pal;
}

inline void Make(CBitmap& b, const Layout& l, int w, int h)
{
    if (l.bits == 8)
        b.CreateIndex(w, h, 8, &Palette(), 0);
    else if (l.bits == 16)
        b.CreateRGB(w, h, 16, 5, 6, 5, 11, 5, 0, 0);
    else
        b.CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0);
}

// A noisy picture with patches of the key colour (about a quarter).
inline void Noise(CBitmap& b)
{
    uint32_t s = 777;
    for (int y = 0; y < b.height; ++y)
        for (int x = 0; x < b.width * b.bytesPerPixel; ++x) {
            s = s * 1664525u + 1013904223u;
            b.data[y * b.pitch + x] = ((x / 16 + y / 16) % 4 == 0) ? 0 : static_cast<uint8_t>(s >> 24);
        }
}

inline SDL_Surface* Wrap(CBitmap& b, const Layout& l)
{
    SDL_Surface* s = SDL_CreateRGBSurfaceWithFormatFrom(b.data, b.width, b.height, l.bits, b.pitch, l.sdl);
    if (s != nullptr && l.bits == 8) {
        SDL_Color c[256];
        for (int i = 0; i < 256; ++i)
            c[i] = {Palette().colors[i].r, Palette().colors[i].g, Palette().colors[i].b, 255};
        SDL_SetPaletteColors(s->format->palette, c, 0, 256);
    }
    return s;
}

// Starts the library's globals with a scratch folder as the working folder:
// the colour-match table files land beside the palette names, and those
// stay out of the caller's folder. FALSE when the folder cannot be made.
inline bool StartInScratchFolder()
{
    static char dir[] = "/tmp/tarvex-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0)
        return false;
    static SGlobals g;
    static SSysGlobals s;
    glb = &g;
    sglb = &s;
    return xCreateGlobals() != 0;
}

} // namespace benchpic
