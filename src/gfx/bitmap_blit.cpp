// CBitmap blits and in-place layout conversions (to 8-bit indexed through
// the colour-match table, to any RGB layout through the pixel converter),
// both keeping the colour key (the top-left pixel) distinct.
#include "gfx/pixel.h"

#include <tarvex/frame.h>
#include <tarvex/memory.h>

#include <cstring>

using namespace tvgfx;

namespace
{
bool BltPair(int32_t dstBits, int32_t srcBits)
{
    if (dstBits == 8)
        return srcBits == 8;
    if (dstBits == 16 || dstBits == 24)
        return srcBits == 8 || srcBits == 16 || srcBits == 24;
    return false;
}

bool Convertible(const CBitmap& b)
{
    return b.data != nullptr && b.bytesPerPixel >= 1 && b.bytesPerPixel <= 4 && b.width >= 0 &&
           b.height >= 0 && static_cast<int64_t>(b.pitch) >= static_cast<int64_t>(b.width) * b.bytesPerPixel;
}
} // namespace

int32_t CBitmap::Blt(CBitmapBase* source, int32_t sx, int32_t sy, int32_t dx, int32_t dy, int32_t w,
                     int32_t h, int32_t flags, int32_t, int32_t)
{
    changed = 1;
    auto* src = dynamic_cast<CBitmap*>(source);
    CRect srcArea, dstArea;
    if (src == nullptr || !PixelArea(*src, srcArea) || !PixelArea(*this, dstArea))
        return TRUE;
    if (!BltPair(bits, src->bits) || bytesPerPixel != bits / 8 || src->bytesPerPixel != src->bits / 8)
        return TRUE;
    if (w == -1)
        w = src->width;
    if (h == -1)
        h = src->height;
    if (!xClipBlit(sx, sy, w, h, dx, dy, srcArea, dstArea))
        return TRUE;

    const int32_t sb = src->bytesPerPixel;
    const int32_t db = bytesPerPixel;
    const uint32_t key = LoadRaw(src->data, sb);
    const bool skipKey = (flags & XBLT_COLORKEY) != 0;
    const uint8_t* sp = src->data + static_cast<ptrdiff_t>(sy) * src->pitch + static_cast<ptrdiff_t>(sx) * sb;
    int32_t spitch = src->pitch;
    uint8_t* dp = data + static_cast<ptrdiff_t>(dy) * pitch + static_cast<ptrdiff_t>(dx) * db;

    // A blit within one bitmap reads from a copy when the areas overlap.
    uint8_t* temp = nullptr;
    if (src == this &&
        CRect().Intersect(CRect(sx, sy, sx + w - 1, sy + h - 1), CRect(dx, dy, dx + w - 1, dy + h - 1))) {
        spitch = w * sb;
        temp = static_cast<uint8_t*>(XALLOC(static_cast<size_t>(spitch) * static_cast<size_t>(h)));
        if (temp == nullptr)
            return TRUE;
        for (int32_t y = 0; y < h; ++y)
            std::memcpy(temp + static_cast<ptrdiff_t>(y) * spitch,
                        sp + static_cast<ptrdiff_t>(y) * src->pitch, static_cast<size_t>(spitch));
        sp = temp;
    }

    Format sf = FormatOf(*src);
    Format df = FormatOf(*this);
    if (db == 1 || SameLayout(sf, df))
        CopyPixels(sp, spitch, dp, pitch, db, w, h, skipKey, key);
    else {
        // A copy: the load-data callback may blit and so reuse the cache entry.
        const Converter conv = GetConverter(sf, df);
        ConvertPixels(sp, spitch, sb, dp, pitch, db, w, h, conv, skipKey ? kSkipKey : kPlain, key, 0, 0);
    }
    if (temp != nullptr)
        XFREE(temp);
    return TRUE;
}

int32_t CBitmap::ConvertIndex(int32_t, int32_t, int32_t, CPalette* pal, int32_t flags)
{
    if (pal == nullptr)
        return xErrorTxt_Func("CBitmap::ConvertIndex: No palette given.", __FILE__, __LINE__);
    if (!Convertible(*this))
        return xErrorTxt_Func("CBitmap::ConvertIndex: The bitmap holds no convertible pixels.", __FILE__,
                              __LINE__);
    bounds.Set(0, 0, width - 1, height - 1);
    screenFormat = 0;
    int32_t newPitch = xBitmapPitch(width, 1);
    size_t size = static_cast<size_t>(newPitch) * static_cast<size_t>(height);
    auto* out = static_cast<uint8_t*>(XALLOC(size));
    CPalette* newPal = XNEW(CPalette);
    if (out == nullptr || newPal == nullptr || !newPal->Clone(pal)) {
        if (out != nullptr)
            XFREE(out);
        XDELETE(newPal);
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    std::memset(out, 0, size);

    Format sf = FormatOf(*this);
    const uint32_t keyRaw = LoadRaw(data, bytesPerPixel);
    const bool keyed = (flags & XCONV_NO_COLORKEY) == 0 && width > 0 && height > 0;
    TRGBA keyColor = Decode(sf, keyRaw);
    auto k1 = static_cast<uint8_t>(pal->FindMatch(&keyColor));
    auto k2 = static_cast<uint8_t>(pal->FindSecondBest(&keyColor));

    if (sf.indexed) {
        Converter remap;
        std::memset(remap.lut, 0, sizeof remap.lut);
        for (uint32_t i = 0; i < 256; ++i) {
            TRGBA c = Decode(sf, i);
            remap.lut[0][i] = static_cast<uint32_t>(pal->FindMatch(&c));
        }
        IndexPixels(data, pitch, 1, out, newPitch, width, height, remap, nullptr, keyed, keyRaw, k1, k2);
    } else {
        const uint8_t* table = xGetColorMatch(pal);
        if (table == nullptr) {
            XFREE(out);
            XDELETE(newPal);
            return FALSE;
        }
        const Converter conv = GetConverter(sf, Format555());
        // The table is held here while the load-data callback may run: a
        // palette change there discards only what the globals then hold.
        uint8_t* heldTable = glb->colorMatch;
        CPalette* heldPal = glb->currentPalette;
        glb->colorMatch = nullptr;
        glb->currentPalette = nullptr;
        IndexPixels(data, pitch, bytesPerPixel, out, newPitch, width, height, conv, table, keyed, keyRaw, k1,
                    k2);
        if (glb->colorMatch == nullptr) {
            glb->colorMatch = heldTable;
            glb->currentPalette = heldPal;
        } else {
            XFREE(heldTable);
            XDELETE(heldPal);
        }
    }

    XFREE(data);
    XDELETE(palette);
    data = out;
    palette = newPal;
    bits = 8;
    bytesPerPixel = 1;
    pitch = newPitch;
    trueColor = 0;
    redBits = greenBits = blueBits = alphaBits = 0;
    redShift = greenShift = blueShift = alphaShift = 0;
    changed = 1;
    return TRUE;
}

int32_t CBitmap::ConvertRGB(int32_t, int32_t, int32_t nbits, int32_t rb, int32_t gb, int32_t bb, int32_t rs,
                            int32_t gs, int32_t bs, int32_t flags)
{
    bounds.Set(0, 0, width - 1, height - 1);
    screenFormat = 0;
    if (bits == nbits && bytesPerPixel == (nbits + 7) / 8 && redBits == rb && greenBits == gb &&
        blueBits == bb && redShift == rs && greenShift == gs && blueShift == bs)
        return TRUE;
    if (nbits != 8 && nbits != 16 && nbits != 24 && nbits != 32)
        return xErrorf("CBitmap::ConvertRGB: Unsupported number of bits (%d).", nbits);
    if (!Convertible(*this))
        return xErrorTxt_Func("CBitmap::ConvertRGB: The bitmap holds no convertible pixels.", __FILE__,
                              __LINE__);
    const int32_t db = nbits / 8;
    int32_t newPitch = xBitmapPitch(width, db);
    if (newPitch < 0 || static_cast<int64_t>(newPitch) * height > 0x7FFFFFFF)
        return xErrorf("CBitmap::ConvertRGB: Invalid bitmap size %dx%d with %d bytes per pixel.", width,
                       height, db);
    size_t size = static_cast<size_t>(newPitch) * static_cast<size_t>(height);
    auto* out = static_cast<uint8_t*>(XALLOC(size));
    if (out == nullptr)
        return xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    // The converter writes every pixel; only the line padding is set here.
    const size_t lineBytes = static_cast<size_t>(width) * static_cast<size_t>(db);
    if (static_cast<size_t>(newPitch) > lineBytes)
        for (int32_t y = 0; y < height; ++y)
            std::memset(out + static_cast<size_t>(y) * static_cast<size_t>(newPitch) + lineBytes, 0xFF,
                        static_cast<size_t>(newPitch) - lineBytes);

    Format sf = FormatOf(*this);
    Format df;
    df.bpp = db;
    df.bits[kRed] = rb;
    df.bits[kGreen] = gb;
    df.bits[kBlue] = bb;
    df.shift[kRed] = rs;
    df.shift[kGreen] = gs;
    df.shift[kBlue] = bs;
    // A copy: the load-data callback may blit and so reuse the cache entry.
    const Converter conv = GetConverter(sf, df);
    const bool keyed = (flags & XCONV_NO_COLORKEY) == 0 && width > 0 && height > 0;
    const uint32_t keyRaw = LoadRaw(data, bytesPerPixel);
    uint32_t keyOut = 0;
    for (int32_t i = 0; i < bytesPerPixel; ++i)
        keyOut |= conv.lut[i][(keyRaw >> (8 * i)) & 255];
    ConvertPixels(data, pitch, bytesPerPixel, out, newPitch, db, width, height, conv,
                  keyed ? kKeepKey : kPlain, keyRaw, keyOut, LowestFieldBit(df));

    XFREE(data);
    XDELETE(palette);
    data = out;
    palette = nullptr;
    bits = nbits;
    bytesPerPixel = db;
    pitch = newPitch;
    trueColor = 1;
    redBits = rb;
    greenBits = gb;
    blueBits = bb;
    alphaBits = 0;
    redShift = rs;
    greenShift = gs;
    blueShift = bs;
    alphaShift = 0;
    changed = 1;
    return TRUE;
}
