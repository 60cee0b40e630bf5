// The software polygon rasteriser of CScreenBase: scan conversion of the
// stored quadrilateral into per-line span tables, affine texture mapping
// with optional darkening by the alpha buffer, the 2 x 2 filtered path that
// renders at double resolution, and the shadow polygon.
//
// Every line of the tables holds the smallest and the largest x any edge
// reaches on it, so both windings, triangles given as quads with a repeated
// vertex, flat edges and one-pixel spans come out the same way. Edge and
// span arithmetic is done in 64 bits and texels are clamped to the texture,
// so no input reads or writes outside a buffer.
#include "gfx/muldiv.h"

#include <tarvex/screen.h>

#include <tarvex/memory.h>
#include <tarvex/shade.h>

#include <climits>
#include <cstring>

namespace
{
constexpr int32_t kFarX = 1 << 30; // x values are kept within +-kFarX

inline int32_t ClampX(int64_t x)
{
    return static_cast<int32_t>(x < -kFarX ? -kFarX : (x > kFarX ? kFarX : x));
}
inline int32_t Min(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t Max(int32_t a, int32_t b) { return a > b ? a : b; }

// The texels a span reads, clamped to the texture.
struct Texture {
    const uint8_t* data;
    int32_t pitch;
    int64_t maxU; // last texel column and line, 16.16
    int64_t maxV;
};

inline const uint8_t* Texel(const Texture& t, int64_t u, int64_t v, int32_t bpp)
{
    int64_t cu = u < 0 ? 0 : (u > t.maxU ? t.maxU : u);
    int64_t cv = v < 0 ? 0 : (v > t.maxV ? t.maxV : v);
    return t.data + (cv >> 16) * t.pitch + (cu >> 16) * bpp;
}
} // namespace

// ---------------------------------------------------------------- scan conversion

int32_t CScreenBase::CalcDrawListFrom(const SPolyVertex* v, int32_t& minX, int32_t& minY, int32_t& maxX,
                                      int32_t& maxY)
{
    minX = maxX = v[0].x;
    minY = maxY = v[0].y;
    for (int32_t i = 1; i < 4; ++i) {
        minX = Min(minX, v[i].x), maxX = Max(maxX, v[i].x);
        minY = Min(minY, v[i].y), maxY = Max(maxY, v[i].y);
    }
    firstLine = Max(minY, 0);
    lastLine = Min(maxY, XSCREEN_SCANLINES - 1);
    if (firstLine > lastLine)
        return FALSE;
    for (int32_t y = firstLine; y <= lastLine; ++y) {
        scanLeftX[y] = INT32_MAX;
        scanRightX[y] = INT32_MIN;
    }
    auto put = [this](int32_t y, int32_t x, int32_t u, int32_t vv) {
        if (x < scanLeftX[y])
            scanLeftX[y] = x, scanLeftU[y] = u, scanLeftV[y] = vv;
        if (x > scanRightX[y])
            scanRightX[y] = x, scanRightU[y] = u, scanRightV[y] = vv;
    };
    for (int32_t i = 0; i < 4; ++i) {
        int32_t ia = i, ib = (i + 1) & 3;
        if (v[ib].y < v[ia].y)
            std::swap(ia, ib);
        const SPolyVertex& a = v[ia];
        const SPolyVertex& b = v[ib];
        const int64_t dy = static_cast<int64_t>(b.y) - a.y;
        if (dy == 0) {
            // A flat edge adds its two ends to its line.
            if (a.y >= firstLine && a.y <= lastLine) {
                put(a.y, a.x, texU[ia], texV[ia]);
                put(a.y, b.x, texU[ib], texV[ib]);
            }
            continue;
        }
        const int64_t dx = static_cast<int64_t>(b.x) - a.x;
        const int64_t du = static_cast<int64_t>(texU[ib]) - texU[ia];
        const int64_t dv = static_cast<int64_t>(texV[ib]) - texV[ia];
        const int32_t y0 = Max(a.y, firstLine), y1 = Min(b.y, lastLine);
        for (int32_t y = y0; y <= y1; ++y) {
            // 128-bit products: edges may span the whole 32-bit range.
            const int64_t t = static_cast<int64_t>(y) - a.y;
            // x in 16.16, then whole pixels (arithmetic shift: floor).
            const int64_t x16 = static_cast<int64_t>(a.x) * 65536 + tvgfx::MulDiv(dx * 65536, t, dy);
            put(y, ClampX(x16 >> 16), static_cast<int32_t>(texU[ia] + tvgfx::MulDiv(du, t, dy)),
                static_cast<int32_t>(texV[ia] + tvgfx::MulDiv(dv, t, dy)));
        }
    }
    return TRUE;
}

int32_t CScreenBase::CalcDrawList(int32_t& minX, int32_t& minY, int32_t& maxX, int32_t& maxY)
{
    return CalcDrawListFrom(polygon, minX, minY, maxX, maxY);
}

int32_t CScreenBase::MakeDrawList(int32_t& minX, int32_t& minY, int32_t& maxX, int32_t& maxY)
{
    // Half pixels to pixels, on a copy: drawing twice draws the same polygon.
    for (int32_t i = 0; i < 4; ++i)
        m_work[i] = {polygon[i].x >> 1, polygon[i].y >> 1, polygon[i].z};
    return CalcDrawListFrom(m_work, minX, minY, maxX, maxY);
}

int32_t CScreenBase::MakeFilterDrawList(int32_t& offX, int32_t& offY, int32_t& minX, int32_t& minY,
                                        int32_t& maxX, int32_t& maxY)
{
    offX = polygon[0].x, offY = polygon[0].y;
    for (int32_t i = 1; i < 4; ++i)
        offX = Min(offX, polygon[i].x), offY = Min(offY, polygon[i].y);
    for (int32_t i = 0; i < 4; ++i)
        m_work[i] = {ClampX(static_cast<int64_t>(polygon[i].x) - offX),
                     ClampX(static_cast<int64_t>(polygon[i].y) - offY), polygon[i].z};
    return CalcDrawListFrom(m_work, minX, minY, maxX, maxY);
}

// ---------------------------------------------------------------- spans

void CScreenBase::ApplyAlpha(uint8_t* p, int32_t bpp, int32_t x, int32_t y)
{
    const CBitmap& ab = *alphaBuffer;
    if (x < 0 || y < 0 || x >= ab.width || y >= ab.height)
        return;
    const int32_t a = ab.data[static_cast<ptrdiff_t>(y) * ab.pitch + x];
    if (bpp == 2) {
        uint16_t px;
        std::memcpy(&px, p, 2);
        px = xScreenFrom555(xShade555(xScreenTo555(px), 31 - a / 8));
        std::memcpy(p, &px, 2);
    } else {
        // q + a - 256, clamped at 0.
        for (int32_t i = 0; i < 3; ++i)
            p[i] = xShade24(p[i], 256 - a);
    }
}

int32_t CScreenBase::RenderSpans(uint8_t* dst, int32_t pitch, int32_t height, int32_t bpp, const CRect& cut,
                                 bool alpha, int32_t ax0, int32_t ay0, int32_t scale, CRect& drawn)
{
    const CBitmap& tex = *texture;
    const Texture t{tex.data, tex.pitch, (static_cast<int64_t>(tex.width) << 16) - 1,
                    (static_cast<int64_t>(tex.height) << 16) - 1};
    const int32_t y0 = Max(Max(firstLine, cut.top), 0);
    const int32_t y1 = Min(Min(lastLine, cut.bottom), height - 1);
    bool any = false;
    for (int32_t y = y0; y <= y1; ++y) {
        const int32_t xl = scanLeftX[y], xr = scanRightX[y];
        if (xl > xr)
            continue;
        const int32_t cl = Max(xl, cut.left), cr = Min(xr, cut.right);
        if (cl > cr)
            continue;
        const int64_t span = static_cast<int64_t>(xr) - xl;
        const int64_t du = span > 0 ? (static_cast<int64_t>(scanRightU[y]) - scanLeftU[y]) / span : 0;
        const int64_t dv = span > 0 ? (static_cast<int64_t>(scanRightV[y]) - scanLeftV[y]) / span : 0;
        int64_t u = scanLeftU[y] + du * (cl - xl);
        int64_t v = scanLeftV[y] + dv * (cl - xl);
        const int32_t n = cr - cl + 1;
        uint8_t* p = dst + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(cl) * bpp;
        const int64_t ue = u + du * (n - 1), ve = v + dv * (n - 1);
        // Both ends inside the texture: so is every texel between them.
        const bool inside = u >= 0 && ue >= 0 && v >= 0 && ve >= 0 && u <= t.maxU && ue <= t.maxU &&
                            v <= t.maxV && ve <= t.maxV;
        if (bpp == 2 && inside) {
            auto* q = reinterpret_cast<uint16_t*>(p);
            for (int32_t i = 0; i < n; ++i, u += du, v += dv)
                std::memcpy(q + i, t.data + (v >> 16) * t.pitch + (u >> 16) * 2, 2);
        } else if (bpp == 3 && inside) {
            for (int32_t i = 0; i < n; ++i, u += du, v += dv, p += 3) {
                const uint8_t* s = t.data + (v >> 16) * t.pitch + (u >> 16) * 3;
                p[0] = s[0], p[1] = s[1], p[2] = s[2];
            }
            p -= static_cast<ptrdiff_t>(n) * 3;
        } else {
            uint8_t* q = p;
            for (int32_t i = 0; i < n; ++i, u += du, v += dv, q += bpp)
                std::memcpy(q, Texel(t, u, v, bpp), static_cast<size_t>(bpp));
        }
        if (alpha) {
            uint8_t* q = p;
            for (int32_t x = cl; x <= cr; ++x, q += bpp)
                ApplyAlpha(q, bpp, ax0 + (x >> scale), ay0 + (y >> scale));
        }
        if (!any) {
            drawn.Set(cl, y, cr, y);
            any = true;
        } else {
            drawn.left = Min(drawn.left, cl);
            drawn.right = Max(drawn.right, cr);
            drawn.bottom = y;
        }
    }
    return any ? TRUE : FALSE;
}

// ---------------------------------------------------------------- the 2 x 2 filter

namespace
{
// Averages the 2 x 2 blocks of src into w x rows pixels of dst; 16-bit
// pixels are split by the layout's fields.
void FilterBlocks(uint8_t* dst, int32_t dstPitch, const uint8_t* src, int32_t srcPitch, int32_t w,
                  int32_t rows, int32_t bpp, const SVmode* m)
{
    // 16-bit pixels with green between red and blue: green moves to the
    // upper half of a 32-bit word, so four pixels add up in one word with
    // room for the carries of every field.
    uint32_t lowMask = 0, highMask = 0;
    if (bpp == 2) {
        auto mask = [](int32_t bits, int32_t shift) -> uint32_t {
            return bits > 0 && bits <= 16 && shift >= 0 && shift + bits <= 16 ? ((1u << bits) - 1) << shift
                                                                              : 0;
        };
        const uint32_t r = mask(m->redBits, m->redShift), g = mask(m->greenBits, m->greenShift),
                       b = mask(m->blueBits, m->blueShift);
        const uint32_t lo = r < b ? r : b, hi = r < b ? b : r;
        // Each field needs two free bits above it for the carries.
        if (g > lo && g < hi && ((lo << 2) & hi) == 0 && ((hi << 2) & (g << 16)) == 0 && (g >> 14) == 0) {
            lowMask = r | b;
            highMask = g << 16;
        }
    }
    const uint32_t spread = lowMask | highMask;
    for (int32_t y = 0; y < rows; ++y) {
        const uint8_t* s0 = src + static_cast<ptrdiff_t>(2 * y) * srcPitch;
        const uint8_t* s1 = s0 + srcPitch;
        uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
        if (bpp == 2 && spread != 0) {
            const auto* a = reinterpret_cast<const uint16_t*>(s0);
            const auto* c = reinterpret_cast<const uint16_t*>(s1);
            for (int32_t x = 0; x < w; ++x) {
                auto wide = [spread](uint32_t p) { return (p | p << 16) & spread; };
                const uint32_t sum =
                    wide(a[2 * x]) + wide(a[2 * x + 1]) + wide(c[2 * x]) + wide(c[2 * x + 1]);
                const uint32_t avg = (sum >> 2) & spread;
                const auto px = static_cast<uint16_t>(avg | avg >> 16);
                std::memcpy(d + 2 * x, &px, 2);
            }
        } else if (bpp == 2) {
            const int32_t sh[3] = {m->redShift, m->greenShift, m->blueShift};
            const int32_t bits[3] = {m->redBits, m->greenBits, m->blueBits};
            for (int32_t x = 0; x < w; ++x) {
                uint16_t a, b, c, e;
                std::memcpy(&a, s0 + 4 * x, 2), std::memcpy(&b, s0 + 4 * x + 2, 2);
                std::memcpy(&c, s1 + 4 * x, 2), std::memcpy(&e, s1 + 4 * x + 2, 2);
                uint32_t out = 0;
                for (int32_t k = 0; k < 3; ++k) {
                    if (bits[k] <= 0 || bits[k] > 16 || sh[k] < 0 || sh[k] + bits[k] > 16)
                        continue;
                    const uint32_t mask = (1u << bits[k]) - 1;
                    const uint32_t sum = ((a >> sh[k]) & mask) + ((b >> sh[k]) & mask) +
                                         ((c >> sh[k]) & mask) + ((e >> sh[k]) & mask);
                    out |= (sum / 4) << sh[k];
                }
                const auto px = static_cast<uint16_t>(out);
                std::memcpy(d + 2 * x, &px, 2);
            }
        } else if (bpp == 3) {
            for (int32_t x = 0; x < w; ++x, d += 3, s0 += 6, s1 += 6) {
                d[0] = static_cast<uint8_t>((s0[0] + s0[3] + s1[0] + s1[3]) >> 2);
                d[1] = static_cast<uint8_t>((s0[1] + s0[4] + s1[1] + s1[4]) >> 2);
                d[2] = static_cast<uint8_t>((s0[2] + s0[5] + s1[2] + s1[5]) >> 2);
            }
        } else {
            for (int32_t x = 0; x < w; ++x)
                for (int32_t k = 0; k < bpp; ++k) {
                    const int32_t i = 2 * x * bpp + k;
                    d[x * bpp + k] = static_cast<uint8_t>((s0[i] + s0[i + bpp] + s1[i] + s1[i + bpp]) / 4);
                }
        }
    }
}
} // namespace

void CScreenBase::CopyFiltered(int32_t x, int32_t y, uint8_t* dst, int32_t dstPitch, int32_t,
                               const uint8_t* src, int32_t srcPitch, int32_t rows)
{
    if (activeMode == nullptr || dst == nullptr || src == nullptr || x < 0 || y < 0)
        return;
    const int32_t bpp = activeMode->bytesPerPixel;
    FilterBlocks(dst + static_cast<ptrdiff_t>(y) * dstPitch + static_cast<ptrdiff_t>(x) * bpp, dstPitch, src,
                 srcPitch, srcPitch / (2 * bpp), rows, bpp, activeMode);
}

int32_t CScreenBase::DrawFiltered(uint8_t* dst, const CRect& cut, int32_t pitch, int32_t height, int32_t bpp,
                                  CRect& drawn, CRect& bounds)
{
    int32_t minX = polygon[0].x, minY = polygon[0].y, maxX = minX, maxY = minY;
    for (int32_t i = 1; i < 4; ++i) {
        minX = Min(minX, polygon[i].x), maxX = Max(maxX, polygon[i].x);
        minY = Min(minY, polygon[i].y), maxY = Max(maxY, polygon[i].y);
    }
    bounds.Set(minX >> 1, minY >> 1, maxX >> 1, maxY >> 1);
    // The destination pixels the polygon can reach, at most 1024 lines (2048
    // scan lines at double resolution).
    const int32_t dl = Max(minX >> 1, cut.left), dr = Min(maxX >> 1, cut.right);
    const int32_t dt = Max(Max(minY >> 1, cut.top), 0);
    const int32_t db = Min(Min(Min(maxY >> 1, cut.bottom), height - 1), dt + XSCREEN_SCANLINES / 2 - 1);
    if (dl > dr || dt > db)
        return FALSE;
    const int32_t w2 = 2 * (dr - dl + 1), h2 = 2 * (db - dt + 1);
    const int64_t need = static_cast<int64_t>(w2) * h2 * bpp;
    if (need > INT32_MAX)
        return FALSE;
    if (need > m_filterSize) {
        if (m_filterBuf != nullptr)
            XFREE(m_filterBuf);
        m_filterBuf = static_cast<uint8_t*>(XALLOC(need));
        m_filterSize = m_filterBuf != nullptr ? static_cast<int32_t>(need) : 0;
        if (m_filterBuf == nullptr)
            return FALSE;
    }
    const int32_t bufPitch = w2 * bpp;
    const int64_t offX = 2 * static_cast<int64_t>(dl), offY = 2 * static_cast<int64_t>(dt);
    for (int32_t i = 0; i < 4; ++i)
        m_work[i] = {ClampX(polygon[i].x - offX), ClampX(polygon[i].y - offY), polygon[i].z};
    int32_t a, b, c, d;
    if (!CalcDrawListFrom(m_work, a, b, c, d))
        return FALSE;
    // The blocks each destination line can touch: the spans of its two scan
    // lines, cut to the buffer.
    auto blocks = [&](int32_t row, int32_t& lo, int32_t& hi) {
        lo = INT32_MAX, hi = INT32_MIN;
        for (int32_t line = 2 * row; line <= 2 * row + 1; ++line)
            if (line >= firstLine && line <= lastLine && scanLeftX[line] <= scanRightX[line]) {
                lo = Min(lo, scanLeftX[line]);
                hi = Max(hi, scanRightX[line]);
            }
        lo = Max(lo, 0) / 2;
        hi = Min(hi, w2 - 1);
        hi = hi < 0 ? -1 : hi / 2;
        return lo <= hi;
    };
    // Those blocks start as the destination doubled, so blocks the polygon
    // only partly covers blend with what lies beneath.
    for (int32_t row = 0; row < h2 / 2; ++row) {
        int32_t lo, hi;
        if (!blocks(row, lo, hi))
            continue;
        const uint8_t* sp =
            dst + static_cast<ptrdiff_t>(dt + row) * pitch + static_cast<ptrdiff_t>(dl + lo) * bpp;
        uint8_t* even =
            m_filterBuf + static_cast<ptrdiff_t>(2 * row) * bufPitch + static_cast<ptrdiff_t>(2 * lo) * bpp;
        uint8_t* dp = even;
        if (bpp == 2) {
            for (int32_t x = lo; x <= hi; ++x, sp += 2, dp += 4) {
                std::memcpy(dp, sp, 2);
                std::memcpy(dp + 2, sp, 2);
            }
        } else {
            for (int32_t x = lo; x <= hi; ++x, sp += 3, dp += 6) {
                dp[0] = dp[3] = sp[0];
                dp[1] = dp[4] = sp[1];
                dp[2] = dp[5] = sp[2];
            }
        }
        // The odd line repeats the even one.
        std::memcpy(even + bufPitch, even, static_cast<size_t>(2 * (hi - lo + 1) * bpp));
    }
    const bool alpha = alphaMode && alphaBuffer != nullptr && alphaBuffer->data != nullptr;
    CRect inBuf;
    if (!RenderSpans(m_filterBuf, bufPitch, h2, bpp, CRect(0, 0, w2 - 1, h2 - 1), alpha, dl, dt, 1, inBuf))
        return FALSE;
    // Only the blocks that were drawn go back.
    bool any = false;
    for (int32_t row = 0; row < h2 / 2; ++row) {
        int32_t lo, hi;
        if (!blocks(row, lo, hi))
            continue;
        FilterBlocks(
            dst + static_cast<ptrdiff_t>(dt + row) * pitch + static_cast<ptrdiff_t>(dl + lo) * bpp, pitch,
            m_filterBuf + static_cast<ptrdiff_t>(2 * row) * bufPitch + static_cast<ptrdiff_t>(2 * lo) * bpp,
            bufPitch, hi - lo + 1, 1, bpp, activeMode);
        if (!any) {
            drawn.Set(dl + lo, dt + row, dl + hi, dt + row);
            any = true;
        } else {
            drawn.left = Min(drawn.left, dl + lo);
            drawn.right = Max(drawn.right, dl + hi);
            drawn.bottom = dt + row;
        }
    }
    return any ? TRUE : FALSE;
}

// ---------------------------------------------------------------- entry points

int32_t CScreenBase::DrawPolygonSoftware(uint8_t* dst, CRect* clipRect, int32_t pitch, int32_t height,
                                         int32_t bpp, CRect*& drawnOut, CRect*& boundsOut)
{
    if (dst == nullptr || clipRect == nullptr || texture == nullptr || texture->data == nullptr ||
        texture->width <= 0 || texture->height <= 0 || texture->bytesPerPixel != bpp || bpp < 1 || bpp > 3 ||
        activeMode == nullptr)
        return FALSE;
    CRect cut = *clipRect;
    cut.Normalize();
    const bool alpha = alphaMode && alphaBuffer != nullptr && alphaBuffer->data != nullptr && bpp > 1;
    if (alpha && !EnsureShadeTables(bpp))
        return FALSE;
    CRect drawn, bounds;
    int32_t ok;
    if (polygonFilter && bpp > 1 && activeMode->bytesPerPixel == bpp) {
        ok = DrawFiltered(dst, cut, pitch, height, bpp, drawn, bounds);
    } else {
        int32_t minX, minY, maxX, maxY;
        ok = MakeDrawList(minX, minY, maxX, maxY);
        bounds.Set(minX, minY, maxX, maxY);
        if (ok)
            ok = RenderSpans(dst, pitch, height, bpp, cut, alpha, 0, 0, 0, drawn);
    }
    if (!ok)
        return FALSE;
    if (drawnOut != nullptr)
        *drawnOut = drawn;
    if (boundsOut != nullptr)
        *boundsOut = bounds;
    return TRUE;
}

int32_t CScreenBase::DrawShadowPolygonInto(uint8_t* dst, const CRect& clipRect, int32_t pitch, int32_t height,
                                           int32_t bpp, CRect& drawn)
{
    if (dst == nullptr || bpp < 1 || bpp > 3)
        return FALSE;
    if (bpp > 1 && !EnsureShadeTables(bpp))
        return FALSE;
    int32_t minX, minY, maxX, maxY;
    if (!MakeDrawList(minX, minY, maxX, maxY))
        return FALSE;
    CRect cut = clipRect;
    cut.Normalize();
    const TRGBA black(0, 0, 0);
    const auto dark = static_cast<uint8_t>(palette.FindMatch(&black));
    const int32_t y0 = Max(Max(firstLine, cut.top), 0);
    const int32_t y1 = Min(Min(lastLine, cut.bottom), height - 1);
    bool any = false;
    for (int32_t y = y0; y <= y1; ++y) {
        const int32_t cl = Max(scanLeftX[y], cut.left), cr = Min(scanRightX[y], cut.right);
        if (scanLeftX[y] > scanRightX[y] || cl > cr)
            continue;
        uint8_t* p = dst + static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(cl) * bpp;
        if (bpp == 1) {
            for (int32_t x = cl; x <= cr; ++x, ++p)
                if (((x + y) & 1) == 0)
                    *p = dark;
        } else if (bpp == 2) {
            for (int32_t x = cl; x <= cr; ++x, p += 2) {
                uint16_t px;
                std::memcpy(&px, p, 2);
                px = xScreenFrom555(xShade555(xScreenTo555(px), 7));
                std::memcpy(p, &px, 2);
            }
        } else {
            for (int32_t i = 0; i < (cr - cl + 1) * 3; ++i)
                p[i] = xShade24(p[i], 56);
        }
        if (!any) {
            drawn.Set(cl, y, cr, y);
            any = true;
        } else {
            drawn.left = Min(drawn.left, cl);
            drawn.right = Max(drawn.right, cr);
            drawn.bottom = y;
        }
    }
    return any ? TRUE : FALSE;
}

int32_t CScreenBase::DrawShadowPolygonSoftware(uint8_t* dst, CRect*& out)
{
    if (activeMode == nullptr || clipEmpty)
        return FALSE;
    CRect drawn;
    if (!DrawShadowPolygonInto(dst, clip, activeMode->pitch, activeMode->height, activeMode->bytesPerPixel,
                               drawn))
        return FALSE;
    if (out != nullptr)
        *out = drawn;
    return TRUE;
}

int32_t CScreenBase::DrawPolygonPersistent(CRect*& out)
{
    if (persistent == nullptr || persistent->data == nullptr || clipEmpty)
        return FALSE;
    CRect drawn;
    CRect* drawnPtr = &drawn;
    if (!DrawPolygonSoftware(persistent->data, &clip, persistent->pitch, persistent->height,
                             persistent->bytesPerPixel, drawnPtr, out))
        return FALSE;
    persistent->changed = 1;
    AddClearAreaPersistent(drawn.left, drawn.top, drawn.right + 2, drawn.bottom + 2);
    if (out != nullptr)
        out->Normalize();
    return TRUE;
}

int32_t CScreenBase::DrawPolygonBitmap(CBitmap* bmp, CRect*& out)
{
    if (bmp == nullptr || bmp->data == nullptr)
        return FALSE;
    CRect cut(0, 0, bmp->width - 1, bmp->height - 1);
    CRect drawn;
    CRect* drawnPtr = &drawn;
    if (!DrawPolygonSoftware(bmp->data, &cut, bmp->pitch, bmp->height, bmp->bytesPerPixel, drawnPtr, out))
        return FALSE;
    bmp->changed = 1;
    return TRUE;
}

int32_t CScreenBase::DrawShadowPolygonPersistent(CRect*& out)
{
    if (persistent == nullptr || persistent->data == nullptr || clipEmpty)
        return FALSE;
    CRect drawn;
    if (!DrawShadowPolygonInto(persistent->data, clip, persistent->pitch, persistent->height,
                               persistent->bytesPerPixel, drawn))
        return FALSE;
    persistent->changed = 1;
    AddClearAreaPersistent(drawn.left, drawn.top, drawn.right + 2, drawn.bottom + 2);
    if (out != nullptr)
        *out = drawn;
    return TRUE;
}

int32_t CScreenBase::DrawShadowPolygonBitmap(CBitmap* bmp, CRect*& out)
{
    if (bmp == nullptr || bmp->data == nullptr)
        return FALSE;
    CRect drawn;
    if (!DrawShadowPolygonInto(bmp->data, CRect(0, 0, bmp->width - 1, bmp->height - 1), bmp->pitch,
                               bmp->height, bmp->bytesPerPixel, drawn))
        return FALSE;
    bmp->changed = 1;
    if (out != nullptr)
        *out = drawn;
    return TRUE;
}
