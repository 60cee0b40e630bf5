// CBitmap::BltScale: a rectangle of one bitmap stretched or shrunk onto a
// rectangle of another by nearest-neighbour sampling. Each target pixel
// takes the source pixel under its centre, so a scale of one is a plain
// copy and a halving takes every second pixel starting with the second.
// The pixel mapping is fixed by the two rectangles as given; cutting either
// to its bitmap only drops target pixels, it never shifts the picture.
//
// Where the layouts match, source pixels are gathered straight into the
// target through a per-column offset table, and a target line whose source
// line is the one before is copied from the line already made. Other
// supported pairs gather into a scratch block first and then go through
// the pixel converter once, as Blt does.
#include "gfx/muldiv.h"
#include "gfx/pixel.h"

#include <tarvex/memory.h>

#include <cstring>

using namespace tvgfx;

namespace
{

// The depth pairs Blt converts between, plus any pair of one layout.
bool ScalablePair(const CBitmap& d, const CBitmap& s, const Format& df, const Format& sf)
{
    if (d.bytesPerPixel != (d.bits + 7) / 8 || s.bytesPerPixel != (s.bits + 7) / 8)
        return false;
    if (d.bits == s.bits && (d.bits == 8 || SameLayout(df, sf)))
        return true;
    if (d.bits == 8)
        return false;
    return (d.bits == 16 || d.bits == 24) && (s.bits == 8 || s.bits == 16 || s.bits == 24);
}

bool Proper(const CRect& r) { return r.right >= r.left && r.bottom >= r.top; }

// One axis of the mapping: target positions first..last (inside the target
// rectangle and the target bitmap) whose source position, from the pixel
// centre, falls inside [srcMin, srcMax]. FALSE when none does.
struct Axis {
    int32_t first = 0, last = -1; // target positions
    int64_t from = 0, span = 0;   // source rectangle start and size
    int64_t to = 0, size = 0;     // target rectangle start and size
    bool wide = false;            // products that need more than 64 bits
    // The source position under target position t's centre; t lies in the
    // target rectangle, so the quotient stays below span.
    int32_t Source(int32_t t) const
    {
        const int64_t k = 2 * (static_cast<int64_t>(t) - to) + 1;
        if (wide)
            return static_cast<int32_t>(from + tvgfx::MulDiv(k, span, 2 * size));
        return static_cast<int32_t>(from + (k * span) / (2 * size));
    }
};

bool MakeAxis(Axis& a, int32_t srcLo, int32_t srcHi, int32_t dstLo, int32_t dstHi, int32_t srcMin,
              int32_t srcMax, int32_t dstMin, int32_t dstMax)
{
    a.from = srcLo;
    a.span = static_cast<int64_t>(srcHi) - srcLo + 1;
    a.to = dstLo;
    a.size = static_cast<int64_t>(dstHi) - dstLo + 1;
    // Rectangles from the far ends of the coordinate range multiply past 64
    // bits; ordinary ones stay with the cheaper arithmetic.
    a.wide = a.size >= (int64_t{1} << 30) || a.span >= (int64_t{1} << 31);
    a.first = dstLo > dstMin ? dstLo : dstMin;
    a.last = dstHi < dstMax ? dstHi : dstMax;
    if (a.first > a.last)
        return false;
    // The source position never falls as the target one grows, so the
    // usable positions are one run: trim both ends by halving.
    auto firstAtLeast = [&](int32_t lo, int32_t hi, auto ok) {
        while (lo < hi) {
            const int32_t mid = lo + (hi - lo) / 2;
            if (ok(mid))
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    if (a.Source(a.first) < srcMin) {
        if (a.Source(a.last) < srcMin)
            return false;
        a.first = firstAtLeast(a.first, a.last, [&](int32_t t) { return a.Source(t) >= srcMin; });
    }
    if (a.Source(a.last) > srcMax) {
        if (a.Source(a.first) > srcMax)
            return false;
        a.last = firstAtLeast(a.first, a.last, [&](int32_t t) { return a.Source(t) > srcMax; }) - 1;
    }
    return a.first <= a.last;
}

template <int B> inline void CopyPixel(uint8_t* d, const uint8_t* s) { std::memcpy(d, s, B); }

// Gathers one line: out[i] = line[offsets[i]], leaving the pixels whose
// source is the key when keyed.
template <int B>
void GatherLine(const uint8_t* line, const int32_t* offsets, int32_t n, uint8_t* out, bool keyed,
                uint32_t key)
{
    if (!keyed) {
        for (int32_t i = 0; i < n; ++i, out += B)
            CopyPixel<B>(out, line + offsets[i]);
        return;
    }
    for (int32_t i = 0; i < n; ++i, out += B) {
        const uint8_t* p = line + offsets[i];
        if (LoadRaw(p, B) != key)
            CopyPixel<B>(out, p);
    }
}

using GatherFn = void (*)(const uint8_t*, const int32_t*, int32_t, uint8_t*, bool, uint32_t);

GatherFn PickGather(int32_t bpp)
{
    switch (bpp) {
    case 1:
        return GatherLine<1>;
    case 2:
        return GatherLine<2>;
    case 3:
        return GatherLine<3>;
    default:
        return GatherLine<4>;
    }
}

} // namespace

int32_t CBitmap::BltScale(CBitmapBase* source, CRect* src, CRect* dst, int32_t flags)
{
    changed = 1;
    auto* from = dynamic_cast<CBitmap*>(source);
    CRect srcArea, dstArea;
    if (from == nullptr || !PixelArea(*from, srcArea) || !PixelArea(*this, dstArea))
        return FALSE;
    const Format sf = FormatOf(*from);
    const Format df = FormatOf(*this);
    if (!ScalablePair(*this, *from, df, sf))
        return FALSE;
    // No rectangle: the whole bitmap.
    const CRect sr = src != nullptr ? *src : srcArea;
    const CRect dr = dst != nullptr ? *dst : dstArea;
    if (!Proper(sr) || !Proper(dr))
        return FALSE;

    Axis ax, ay;
    if (!MakeAxis(ax, sr.left, sr.right, dr.left, dr.right, srcArea.left, srcArea.right, dstArea.left,
                  dstArea.right) ||
        !MakeAxis(ay, sr.top, sr.bottom, dr.top, dr.bottom, srcArea.top, srcArea.bottom, dstArea.top,
                  dstArea.bottom))
        return TRUE; // nothing of it lands on either bitmap

    const int32_t sb = from->bytesPerPixel;
    const int32_t db = bytesPerPixel;
    const int32_t w = ax.last - ax.first + 1;
    const int32_t h = ay.last - ay.first + 1;
    const bool keyed = (flags & XBLT_COLORKEY) != 0;
    const uint32_t key = LoadRaw(from->data, sb);
    const bool direct = db == sb && (db == 1 || SameLayout(sf, df));

    // Scaling within one bitmap reads from a copy of it.
    const uint8_t* pixels = from->data;
    uint8_t* copy = nullptr;
    const size_t bytes = static_cast<size_t>(from->pitch) * static_cast<size_t>(from->height);
    if (from == this) {
        if ((copy = static_cast<uint8_t*>(XALLOC(bytes))) == nullptr)
            return FALSE;
        std::memcpy(copy, from->data, bytes);
        pixels = copy;
    }
    auto* offsets = static_cast<int32_t*>(XALLOC(static_cast<size_t>(w) * sizeof(int32_t)));
    uint8_t* block = nullptr;
    const int32_t blockPitch = w * sb;
    if (!direct)
        block = static_cast<uint8_t*>(XALLOC(static_cast<size_t>(blockPitch) * static_cast<size_t>(h)));
    auto release = [&] {
        for (void* p : {static_cast<void*>(offsets), static_cast<void*>(block), static_cast<void*>(copy)})
            if (p != nullptr)
                XFREE(p);
    };
    if (offsets == nullptr || (!direct && block == nullptr)) {
        release();
        return FALSE;
    }
    for (int32_t i = 0; i < w; ++i)
        offsets[i] = ax.Source(ax.first + i) * sb;

    const GatherFn gather = PickGather(sb);
    const size_t lineBytes = static_cast<size_t>(w) * static_cast<size_t>(db);
    uint8_t* out =
        direct ? data + static_cast<ptrdiff_t>(ay.first) * pitch + static_cast<ptrdiff_t>(ax.first) * db
               : block;
    const int32_t outPitch = direct ? pitch : blockPitch;
    int32_t lastRow = -1;
    for (int32_t y = 0; y < h; ++y, out += outPitch) {
        const int32_t row = ay.Source(ay.first + y);
        // A keyed line straight into the target leaves pixels as they were,
        // so it is never a copy of the line above.
        if (row == lastRow && !(direct && keyed))
            std::memcpy(out, out - outPitch, direct ? lineBytes : static_cast<size_t>(blockPitch));
        else
            gather(pixels + static_cast<ptrdiff_t>(row) * from->pitch, offsets, w, out, direct && keyed, key);
        lastRow = row;
    }
    if (!direct) {
        // The block holds source pixels, the key among them: the converter
        // leaves those when keyed, as Blt's does.
        const Converter conv = GetConverter(sf, df);
        ConvertPixels(block, blockPitch, sb,
                      data + static_cast<ptrdiff_t>(ay.first) * pitch + static_cast<ptrdiff_t>(ax.first) * db,
                      pitch, db, w, h, conv, keyed ? kSkipKey : kPlain, key, 0, 0);
    }
    release();
    return TRUE;
}
