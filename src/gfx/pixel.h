// Pixel formats and the table-driven pixel converter shared by blits and
// conversions. Every conversion of the pixel copy rule (extract a field,
// widen to 8 bits, narrow to the target width, place at the target shift) is
// made of shifts and masks, so it distributes over OR: the converted value of
// a pixel is the OR of one table entry per source byte. One 256-entry table
// per source byte thus serves every layout pair.
#pragma once

#include <tarvex/bitmap.h>

constexpr uint32_t kColorMatchSize = 32768;

// The colour-match table of a palette (5-5-5 colour -> index), built or read
// from "<palette name>.tab" on first need and cached in the globals. Null
// when it cannot be allocated.
const uint8_t* xGetColorMatch(const CPalette* pal);

namespace tvgfx
{

enum { kRed = 0, kGreen = 1, kBlue = 2, kAlpha = 3 };

struct Format {
    int32_t bpp = 0;      // bytes per pixel, 1..4
    bool indexed = false; // palette indices (8-bit only)
    int32_t bits[4] = {};
    int32_t shift[4] = {};
    const CPalette* pal = nullptr;
};

Format FormatOf(const CBitmap& b);
// 16-bit 5-5-5: red at 10, green at 5, blue at 0.
Format Format555();
bool SameLayout(const Format& a, const Format& b);

// The part of a bitmap that really holds pixels, for blits: its bounds cut
// to its size. FALSE when it holds none.
inline bool PixelArea(const CBitmap& b, CRect& out)
{
    if (b.data == nullptr || b.bytesPerPixel < 1 || b.bytesPerPixel > 4 || b.width <= 0 || b.height <= 0 ||
        static_cast<int64_t>(b.pitch) < static_cast<int64_t>(b.width) * b.bytesPerPixel)
        return false;
    return out.Intersect(b.bounds, CRect(0, 0, b.width - 1, b.height - 1)) == TRUE;
}

// Pixel values are handled in memory order: byte k of the pixel is bits
// 8k..8k+7 of the value.
inline uint32_t LoadRaw(const uint8_t* p, int32_t bpp)
{
    uint32_t v = p[0];
    if (bpp > 1)
        v |= static_cast<uint32_t>(p[1]) << 8;
    if (bpp > 2)
        v |= static_cast<uint32_t>(p[2]) << 16;
    if (bpp > 3)
        v |= static_cast<uint32_t>(p[3]) << 24;
    return v;
}
inline void StoreRaw(uint8_t* p, uint32_t v, int32_t bpp)
{
    p[0] = static_cast<uint8_t>(v);
    if (bpp > 1)
        p[1] = static_cast<uint8_t>(v >> 8);
    if (bpp > 2)
        p[2] = static_cast<uint8_t>(v >> 16);
    if (bpp > 3)
        p[3] = static_cast<uint8_t>(v >> 24);
}

// Colour of a pixel (memory order) by the pixel copy rule; alpha 0 unless
// the format has an alpha field. Indexed formats answer the palette entry.
TRGBA Decode(const Format& f, uint32_t raw);
// A colour as a pixel (memory order) of an RGB format.
uint32_t Encode(const Format& f, const TRGBA& c);
// The lowest bit of the blue field (else green, else red) in memory order:
// toggling it gives the nearest distinct colour.
uint32_t LowestFieldBit(const Format& f);

struct Converter {
    uint32_t lut[4][256];
};
void BuildConverter(Converter& c, const Format& src, const Format& dst);

// Kernel modes.
enum Mode { kPlain = 0, kSkipKey = 1, kKeepKey = 2 };

// Converts w x h pixels from src to dst (RGB or 8-bit truecolour target),
// calling the load-data callback every 32 lines. kSkipKey leaves target
// pixels whose source equals key; kKeepKey writes keyOut for them and
// toggles flip in others that came out as keyOut.
void ConvertPixels(const uint8_t* src, int32_t srcPitch, int32_t srcBpp, uint8_t* dst, int32_t dstPitch,
                   int32_t dstBpp, int32_t w, int32_t h, const Converter& c, Mode mode, uint32_t key,
                   uint32_t keyOut, uint32_t flip);
// Same-layout copy: whole lines, or pixel by pixel leaving the key.
void CopyPixels(const uint8_t* src, int32_t srcPitch, uint8_t* dst, int32_t dstPitch, int32_t bpp, int32_t w,
                int32_t h, bool skipKey, uint32_t key);
// To 8-bit indices: the converter gives indices directly (table null) or
// 5-5-5 colours looked up in table. With keyed, source pixels equal to key
// become k1 and others that came out as k1 become k2.
void IndexPixels(const uint8_t* src, int32_t srcPitch, int32_t srcBpp, uint8_t* dst, int32_t dstPitch,
                 int32_t w, int32_t h, const Converter& c, const uint8_t* table, bool keyed, uint32_t key,
                 uint8_t k1, uint8_t k2);

} // namespace tvgfx

namespace tvgfx
{
// The converter for a pair of formats, from a small cache: fonts and sprites
// blit many small pictures of the same few layouts, for which building the
// tables would cost more than the pixels.
const Converter& GetConverter(const Format& src, const Format& dst);
} // namespace tvgfx
