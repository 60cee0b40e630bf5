// Helpers of the screen tests: a fixture that starts the library with its
// windowed screen (SDL's offscreen driver when there is no display), pixel
// hashes with a BMP written on a mismatch, and the comparison of the window
// surface with the screen buffer through SDL's own conversion.
#pragma once

#include "tarvex_test.h"

#include "platform/platform.h"

#include <SDL2/SDL.h>
#include <tarvex/dibscreen.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tvtest
{

class ScreenTest : public TarvexTest
{
  protected:
    ScreenTest() : TarvexTest(true) {}
    CDibScreen* Screen() { return sglb->dibScreen; }
    // Opens a window-kind mode and makes it current; the clip is the screen.
    bool Open(int32_t w, int32_t h, int32_t bits, int32_t kind = XVMODE_WINDOW)
    {
        return Screen() != nullptr && Screen()->InitModeRez(w, h, bits, kind) == TRUE &&
               glb->screen == Screen();
    }
};

// FNV-1a over the pixel bytes of each line (padding excluded).
inline uint32_t PixelHash(const CBitmap& b)
{
    uint32_t h = 2166136261u;
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t i = 0; i < b.width * b.bytesPerPixel; ++i) {
            h ^= b.data[y * b.pitch + i];
            h *= 16777619u;
        }
    return h;
}

// The colour of a pixel of a bitmap in a screen layout (8-bit through pal).
inline TRGBA PixelColor(const CBitmap& b, const CPalette* pal, int32_t x, int32_t y)
{
    const uint8_t* p =
        b.data + static_cast<ptrdiff_t>(y) * b.pitch + static_cast<ptrdiff_t>(x) * b.bytesPerPixel;
    if (b.bits == 8)
        return pal != nullptr ? pal->colors[*p] : TRGBA(*p, *p, *p, 0);
    if (b.bits == 16) {
        uint32_t v = p[0] | (p[1] << 8);
        auto ch = [&](int32_t shift, int32_t bits) {
            uint32_t c = (v >> shift) & ((1u << bits) - 1);
            return static_cast<uint8_t>(c << (8 - bits));
        };
        return TRGBA(ch(b.redShift, b.redBits), ch(b.greenShift, b.greenBits), ch(b.blueShift, b.blueBits),
                     0);
    }
    return TRGBA(p[2 - b.redShift / 8], p[2 - b.greenShift / 8], p[2 - b.blueShift / 8], 0);
}

// Writes the picture as a 24-bit BMP under the build folder, so a person
// can look at it; returns the path.
inline std::string WriteBmp(const std::string& name, const CBitmap& b, const CPalette* pal)
{
    namespace fs = std::filesystem;
    fs::path dir = fs::path(TARVEX_BINARY_DIR) / "tests" / "pixel-mismatch";
    std::error_code ec;
    fs::create_directories(dir, ec);
    fs::path file = dir / (name + ".bmp");
    const int32_t rowBytes = (b.width * 3 + 3) & ~3;
    std::vector<uint8_t> out(54 + static_cast<size_t>(rowBytes) * b.height, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            out[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    out[0] = 'B', out[1] = 'M';
    put32(2, static_cast<uint32_t>(out.size()));
    put32(10, 54);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(b.width));
    put32(22, static_cast<uint32_t>(-b.height));
    out[26] = 1, out[28] = 24;
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t x = 0; x < b.width; ++x) {
            TRGBA c = PixelColor(b, pal, x, y);
            uint8_t* d = &out[54 + static_cast<size_t>(y) * rowBytes + static_cast<size_t>(x) * 3];
            d[0] = c.b, d[1] = c.g, d[2] = c.r;
        }
    if (FILE* f = std::fopen(file.string().c_str(), "wb")) {
        std::fwrite(out.data(), 1, out.size(), f);
        std::fclose(f);
    }
    return file.string();
}

// Compares a picture's hash with its golden value; on a mismatch the picture
// is written as a BMP and named in the failure.
inline ::testing::AssertionResult MatchesGolden(const std::string& name, const CBitmap& b,
                                                const CPalette* pal, uint32_t golden)
{
    const uint32_t h = PixelHash(b);
    if (h == golden)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << name << ": hash " << h << " (expected " << golden << "), picture in " << WriteBmp(name, b, pal);
}

// The screen's buffer converted by SDL into the window surface's format,
// compared with the window surface at the picture offset.
// picture: a copy of the buffer taken before the frame (the frame's clear
// restores the buffer after the flip); null for the buffer itself.
inline ::testing::AssertionResult WindowShowsBuffer(CDibScreen* s, const std::string& name,
                                                    const CBitmap* picture = nullptr)
{
    const CBitmap* img = picture != nullptr ? picture : s->GetScreenBitmap();
    SDL_Surface* win = SDL_GetWindowSurface(tvp::SdlWindow(sglb->mainWindow));
    if (img == nullptr || win == nullptr)
        return ::testing::AssertionFailure() << "no screen buffer or window surface";
    const uint32_t fmt = img->bits == 8    ? SDL_PIXELFORMAT_INDEX8
                         : img->bits == 16 ? SDL_PIXELFORMAT_RGB555
                                           : SDL_PIXELFORMAT_BGR24;
    SDL_Surface* src =
        SDL_CreateRGBSurfaceWithFormatFrom(img->data, img->width, img->height, img->bits, img->pitch, fmt);
    if (img->bits == 8) {
        SDL_Color cols[256];
        for (int i = 0; i < 256; ++i)
            cols[i] = SDL_Color{s->palette.colors[i].r, s->palette.colors[i].g, s->palette.colors[i].b, 255};
        SDL_SetPaletteColors(src->format->palette, cols, 0, 256);
    }
    SDL_Surface* want = SDL_ConvertSurface(src, win->format, 0);
    SDL_FreeSurface(src);
    if (want == nullptr)
        return ::testing::AssertionFailure() << "conversion failed";
    int32_t bad = 0, firstX = -1, firstY = -1;
    const int bpp = win->format->BytesPerPixel;
    for (int32_t y = 0; y < img->height; ++y) {
        const int32_t wy = y + s->offsetY;
        if (wy >= win->h)
            break;
        for (int32_t x = 0; x < img->width && x + s->offsetX < win->w; ++x) {
            const uint8_t* a = static_cast<uint8_t*>(want->pixels) + y * want->pitch + x * bpp;
            const uint8_t* b = static_cast<uint8_t*>(win->pixels) + wy * win->pitch + (x + s->offsetX) * bpp;
            uint32_t va = 0, vb = 0;
            std::memcpy(&va, a, static_cast<size_t>(bpp));
            std::memcpy(&vb, b, static_cast<size_t>(bpp));
            // Compare colours only: the window surface may hold anything in alpha.
            uint8_t r1, g1, b1, r2, g2, b2;
            SDL_GetRGB(va, win->format, &r1, &g1, &b1);
            SDL_GetRGB(vb, win->format, &r2, &g2, &b2);
            if (r1 != r2 || g1 != g2 || b1 != b2) {
                if (bad++ == 0)
                    firstX = x, firstY = y;
            }
        }
    }
    SDL_FreeSurface(want);
    if (bad == 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << name << ": " << bad << " window pixels differ, first at (" << firstX << ", " << firstY
           << "); buffer in " << WriteBmp(name, *img, &s->palette);
}

// A screenshot read from an xwd file: 24- or 32-bit pixels of a TrueColor screen.
struct Shot {
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB
};

inline bool ReadXwd(const std::string& file, Shot& shot)
{
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (d.size() < 100)
        return false;
    auto be = [&](size_t i) {
        return static_cast<uint32_t>(d[4 * i] << 24 | d[4 * i + 1] << 16 | d[4 * i + 2] << 8 | d[4 * i + 3]);
    };
    const uint32_t headerSize = be(0), format = be(2), width = be(4), height = be(5), byteOrder = be(7);
    const uint32_t bpp = be(11), bytesPerLine = be(12), redMask = be(14), greenMask = be(15),
                   blueMask = be(16);
    const uint32_t ncolors = be(19);
    if (format != 2 || (bpp != 24 && bpp != 32) || width == 0 || height == 0)
        return false;
    const uint32_t bytes = bpp / 8;
    const size_t start = headerSize + static_cast<size_t>(ncolors) * 12;
    if (d.size() < start + static_cast<size_t>(bytesPerLine) * height)
        return false;
    auto channel = [](uint32_t v, uint32_t mask) {
        if (mask == 0)
            return 0u;
        uint32_t shift = 0;
        while (((mask >> shift) & 1u) == 0)
            ++shift;
        return (v & mask) >> shift;
    };
    shot.width = static_cast<int32_t>(width);
    shot.height = static_cast<int32_t>(height);
    shot.pixels.resize(static_cast<size_t>(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t* p = &d[start + static_cast<size_t>(y) * bytesPerLine + x * bytes];
            uint32_t v = 0;
            for (uint32_t k = 0; k < bytes; ++k)
                v |= static_cast<uint32_t>(p[k]) << (8 * (byteOrder == 0 ? k : bytes - 1 - k));
            shot.pixels[static_cast<size_t>(y) * width + x] =
                channel(v, redMask) << 16 | channel(v, greenMask) << 8 | channel(v, blueMask);
        }
    return true;
}

} // namespace tvtest
