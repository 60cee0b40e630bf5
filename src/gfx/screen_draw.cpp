// CScreenBase drawing primitives: filled and darkened rectangles and lines,
// with the line clipper they share. Each primitive writes straight into the
// locked screen buffer with a loop per depth and registers the clipped
// rectangle it touched, so the frame restores and shows exactly that.
#include <tarvex/screen.h>

#include <tarvex/shade.h>

#include "gfx/pixel.h"

#include <cstring>

namespace
{
enum : int32_t { kBelow = 1, kAbove = 2, kRight = 4, kLeft = 8 };

inline void PutPixel(uint8_t* p, int32_t bpp, uint32_t v)
{
    if (bpp == 1)
        *p = static_cast<uint8_t>(v);
    else if (bpp == 2) {
        uint16_t w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else {
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
    }
}
} // namespace

uint32_t CScreenBase::ScreenColor(TRGBA c)
{
    if (activeMode == nullptr)
        return 0;
    const SVmode& m = *activeMode;
    if (m.bitsPerPixel == 8)
        return static_cast<uint32_t>(palette.FindMatch(&c));
    if (m.bitsPerPixel == 16) {
        auto part = [](uint8_t v, int32_t bits, int32_t shift) -> uint32_t {
            if (bits <= 0 || bits > 8 || shift < 0 || shift > 15)
                return 0;
            return static_cast<uint32_t>(v >> (8 - bits)) << shift;
        };
        return part(c.r, m.redBits, m.redShift) | part(c.g, m.greenBits, m.greenShift) |
               part(c.b, m.blueBits, m.blueShift);
    }
    // 24-bit, memory order: the channel with shift s is byte 2 - s / 8.
    auto place = [](uint8_t v, int32_t shift) -> uint32_t {
        int32_t byte = 2 - shift / 8;
        return byte >= 0 && byte <= 2 ? static_cast<uint32_t>(v) << (8 * byte) : 0;
    };
    return place(c.r, m.redShift) | place(c.g, m.greenShift) | place(c.b, m.blueShift);
}

void CScreenBase::FillRect(int32_t x, int32_t y, int32_t w, int32_t h, TRGBA color)
{
    if (activeMode == nullptr || clipEmpty || w <= 0 || h <= 0)
        return;
    int32_t sx = x, sy = y;
    if (!xClipBlit(sx, sy, w, h, x, y, CRect(x, y, x + w - 1, y + h - 1), clip))
        return;
    uint8_t* buf = LockScreenBuffer();
    if (buf == nullptr)
        return;
    const SVmode& m = *activeMode;
    const int32_t bpp = m.bytesPerPixel;
    const uint32_t v = ScreenColor(color);
    for (int32_t row = 0; row < h; ++row) {
        uint8_t* p = buf + static_cast<ptrdiff_t>(y + row) * m.pitch + static_cast<ptrdiff_t>(x) * bpp;
        if (bpp == 1) {
            std::memset(p, static_cast<int>(v), static_cast<size_t>(w));
        } else if (bpp == 2) {
            const auto px = static_cast<uint16_t>(v);
            for (int32_t i = 0; i < w; ++i, p += 2)
                std::memcpy(p, &px, 2);
        } else {
            for (int32_t i = 0; i < w; ++i, p += bpp)
                PutPixel(p, bpp, v);
        }
    }
    ReleaseScreenBuffer();
    AddClearArea(x, y, x + w - 1, y + h - 1);
}

void CScreenBase::FillRectAlpha(int32_t x, int32_t y, int32_t w, int32_t h, int32_t percent)
{
    if (activeMode == nullptr || clipEmpty || w <= 0 || h <= 0)
        return;
    const SVmode& m = *activeMode;
    if (m.bitsPerPixel != 16 && m.bitsPerPixel != 24)
        return;
    int32_t sx = x, sy = y;
    if (!xClipBlit(sx, sy, w, h, x, y, CRect(x, y, x + w - 1, y + h - 1), clip))
        return;
    if (!EnsureShadeTables(m.bytesPerPixel))
        return;
    percent = percent < 0 ? 0 : (percent > 100 ? 100 : percent);
    uint8_t* buf = LockScreenBuffer();
    if (buf == nullptr)
        return;
    if (m.bitsPerPixel == 16) {
        const int32_t level = percent * 31 / 100;
        for (int32_t row = 0; row < h; ++row) {
            uint8_t* p = buf + static_cast<ptrdiff_t>(y + row) * m.pitch + static_cast<ptrdiff_t>(x) * 2;
            for (int32_t i = 0; i < w; ++i, p += 2) {
                uint16_t px;
                std::memcpy(&px, p, 2);
                px = xScreenFrom555(xShade555(xScreenTo555(px), level));
                std::memcpy(p, &px, 2);
            }
        }
    } else {
        const int32_t level = percent * 255 / 100;
        for (int32_t row = 0; row < h; ++row) {
            uint8_t* p = buf + static_cast<ptrdiff_t>(y + row) * m.pitch + static_cast<ptrdiff_t>(x) * 3;
            for (int32_t i = 0; i < w * 3; ++i)
                p[i] = xShade24(p[i], level);
        }
    }
    ReleaseScreenBuffer();
    AddClearArea(x, y, x + w - 1, y + h - 1);
}

int32_t CScreenBase::CompOutCode(int32_t x, int32_t y)
{
    int32_t code = 0;
    if (y > clip.bottom)
        code |= kBelow;
    else if (y < clip.top)
        code |= kAbove;
    if (x > clip.right)
        code |= kRight;
    else if (x < clip.left)
        code |= kLeft;
    return code;
}

uint32_t CScreenBase::ClipLine(int32_t& x1, int32_t& y1, int32_t& x2, int32_t& y2)
{
    if (clipEmpty)
        return 0;
    // Intersections in 64 bits: the products of far-apart end points do not
    // fit 32. Every step moves one end onto a clip edge, so at most four run.
    int64_t ax = x1, ay = y1, bx = x2, by = y2;
    int32_t ca = CompOutCode(x1, y1), cb = CompOutCode(x2, y2);
    for (int step = 0; step < 8; ++step) {
        if ((ca | cb) == 0) {
            x1 = static_cast<int32_t>(ax), y1 = static_cast<int32_t>(ay);
            x2 = static_cast<int32_t>(bx), y2 = static_cast<int32_t>(by);
            return 1;
        }
        if ((ca & cb) != 0)
            return 0;
        const bool moveA = ca != 0;
        const int32_t code = moveA ? ca : cb;
        int64_t nx, ny;
        if (code & kBelow) {
            ny = clip.bottom;
            nx = ax + (bx - ax) * (ny - ay) / (by - ay);
        } else if (code & kAbove) {
            ny = clip.top;
            nx = ax + (bx - ax) * (ny - ay) / (by - ay);
        } else if (code & kRight) {
            nx = clip.right;
            ny = ay + (by - ay) * (nx - ax) / (bx - ax);
        } else {
            nx = clip.left;
            ny = ay + (by - ay) * (nx - ax) / (bx - ax);
        }
        if (moveA) {
            ax = nx, ay = ny;
            ca = CompOutCode(static_cast<int32_t>(ax), static_cast<int32_t>(ay));
        } else {
            bx = nx, by = ny;
            cb = CompOutCode(static_cast<int32_t>(bx), static_cast<int32_t>(by));
        }
    }
    return 0;
}

void CScreenBase::DrawLine(int32_t x1, int32_t y1, int32_t x2, int32_t y2, TRGBA color)
{
    if (activeMode == nullptr || !ClipLine(x1, y1, x2, y2))
        return;
    uint8_t* buf = LockScreenBuffer();
    if (buf == nullptr)
        return;
    const SVmode& m = *activeMode;
    const int32_t bpp = m.bytesPerPixel;
    const uint32_t v = ScreenColor(color);
    int32_t dx = x2 - x1, dy = y2 - y1;
    int32_t adx = dx < 0 ? -dx : dx, ady = dy < 0 ? -dy : dy;
    // Walk the major axis from the end with the smaller minor coordinate.
    if (adx >= ady ? y2 < y1 : x2 < x1) {
        std::swap(x1, x2);
        std::swap(y1, y2);
        dx = -dx, dy = -dy;
    }
    const int32_t sx = dx < 0 ? -1 : 1, sy = dy < 0 ? -1 : 1;
    int32_t x = x1, y = y1;
    auto plot = [&](int32_t px, int32_t py) {
        PutPixel(buf + static_cast<ptrdiff_t>(py) * m.pitch + static_cast<ptrdiff_t>(px) * bpp, bpp, v);
    };
    if (adx >= ady) {
        int32_t err = 2 * ady - adx;
        for (int32_t i = 0; i <= adx; ++i) {
            plot(x, y);
            if (err > 0) {
                y += sy;
                err -= 2 * adx;
            }
            err += 2 * ady;
            x += sx;
        }
    } else {
        int32_t err = 2 * adx - ady;
        for (int32_t i = 0; i <= ady; ++i) {
            plot(x, y);
            if (err > 0) {
                x += sx;
                err -= 2 * ady;
            }
            err += 2 * adx;
            y += sy;
        }
    }
    ReleaseScreenBuffer();
    AddClearArea(x1 < x2 ? x1 : x2, y1 < y2 ? y1 : y2, x1 < x2 ? x2 : x1, y1 < y2 ? y2 : y1);
}

bool CScreenBase::BlitToScreenPicture(CBitmap* to, CBitmap* bmp, int32_t sx, int32_t sy, int32_t dx,
                                      int32_t dy, int32_t w, int32_t h, bool keyed)
{
    if (to == nullptr || to->data == nullptr || bmp == nullptr || bmp->data == nullptr)
        return false;
    if (to->bits == 8 && bmp->bits != 8) {
        // 8-bit screen from RGB pixels: through the screen palette's colour match.
        const uint8_t* table = xGetColorMatch(&palette);
        if (table == nullptr || bmp->bytesPerPixel < 2 || bmp->bytesPerPixel > 4)
            return false;
        const tvgfx::Converter conv = tvgfx::GetConverter(tvgfx::FormatOf(*bmp), tvgfx::Format555());
        const int32_t sb = bmp->bytesPerPixel;
        const uint32_t key = tvgfx::LoadRaw(bmp->data, sb);
        for (int32_t y = 0; y < h; ++y) {
            const uint8_t* s =
                bmp->data + static_cast<ptrdiff_t>(sy + y) * bmp->pitch + static_cast<ptrdiff_t>(sx) * sb;
            uint8_t* d = to->data + static_cast<ptrdiff_t>(dy + y) * to->pitch + dx;
            for (int32_t x = 0; x < w; ++x, s += sb) {
                const uint32_t raw = tvgfx::LoadRaw(s, sb);
                if (keyed && raw == key)
                    continue;
                uint32_t q = 0;
                for (int32_t k = 0; k < sb; ++k)
                    q |= conv.lut[k][(raw >> (8 * k)) & 255];
                d[x] = table[q & 0x7FFF];
            }
        }
        return true;
    }
    return to->Blt(bmp, sx, sy, dx, dy, w, h, keyed ? XBLT_COLORKEY : 0, 0, 0) != 0;
}
