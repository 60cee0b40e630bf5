// Pixel formats, the per-byte conversion tables and the pixel loops. The
// loops are the library's hot path: one instantiation per pair of source and
// target pixel sizes, so each inner loop is a few table look-ups and stores.
#include "gfx/pixel.h"

#include <tarvex/frame.h>

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tvgfx
{

namespace
{
constexpr int32_t kCallbackLines = 32;

inline uint32_t FieldMask(int32_t w)
{
    if (w <= 0)
        return 0;
    return w >= 32 ? 0xFFFFFFFFu : (1u << w) - 1;
}
inline uint32_t ShiftLeft(uint32_t v, int32_t s)
{
    return s >= 0 && s < 32 ? v << s : 0;
}
inline uint32_t ShiftRight(uint32_t v, int32_t s)
{
    return s >= 0 && s < 32 ? v >> s : 0;
}

// Pixel integer (16-bit: the little-endian word; 24/32-bit: the big-endian
// number) <-> memory order.
uint32_t ToInteger(uint32_t raw, int32_t bpp)
{
    switch (bpp) {
    case 3:
        return ((raw & 0xFF) << 16) | (raw & 0xFF00) | ((raw >> 16) & 0xFF);
    case 4:
        return __builtin_bswap32(raw);
    default:
        return raw;
    }
}
uint32_t ToMemory(uint32_t v, int32_t bpp)
{
    return ToInteger(v, bpp);
}

void CallLoadData()
{
    if (glb != nullptr && glb->loadDataCallback != nullptr)
        glb->loadDataCallback();
}

TRGBA GreyOrPalette(const CPalette* pal, uint32_t i)
{
    if (pal != nullptr)
        return pal->colors[i & 255];
    auto v = static_cast<uint8_t>(i);
    return TRGBA(v, v, v, 0);
}
} // namespace

Format FormatOf(const CBitmap& b)
{
    Format f;
    f.bpp = b.bytesPerPixel;
    f.indexed = b.trueColor == 0 && b.bytesPerPixel == 1;
    f.bits[kRed] = b.redBits;
    f.bits[kGreen] = b.greenBits;
    f.bits[kBlue] = b.blueBits;
    f.bits[kAlpha] = b.alphaBits;
    f.shift[kRed] = b.redShift;
    f.shift[kGreen] = b.greenShift;
    f.shift[kBlue] = b.blueShift;
    f.shift[kAlpha] = b.alphaShift;
    f.pal = b.palette;
    return f;
}

Format Format555()
{
    Format f;
    f.bpp = 2;
    f.bits[kRed] = f.bits[kGreen] = f.bits[kBlue] = 5;
    f.shift[kRed] = 10;
    f.shift[kGreen] = 5;
    return f;
}

bool SameLayout(const Format& a, const Format& b)
{
    if (a.bpp != b.bpp || a.indexed != b.indexed)
        return false;
    if (a.indexed)
        return true;
    for (int k = 0; k < 4; ++k)
        if (a.bits[k] != b.bits[k] || (a.bits[k] != 0 && a.shift[k] != b.shift[k]))
            return false;
    return true;
}

TRGBA Decode(const Format& f, uint32_t raw)
{
    if (f.indexed)
        return GreyOrPalette(f.pal, raw & 255);
    uint32_t p = ToInteger(raw, f.bpp);
    uint8_t ch[4];
    for (int k = 0; k < 4; ++k) {
        int32_t w = f.bits[k];
        uint32_t v = ShiftRight(p, f.shift[k]) & FieldMask(w);
        ch[k] = static_cast<uint8_t>(w <= 8 ? ShiftLeft(v, 8 - w) : v >> (w - 8));
    }
    return TRGBA(ch[0], ch[1], ch[2], ch[3]);
}

uint32_t Encode(const Format& f, const TRGBA& c)
{
    const uint8_t ch[4] = {c.r, c.g, c.b, c.a};
    uint32_t p = 0;
    for (int k = 0; k < 4; ++k) {
        int32_t w = f.bits[k];
        if (w <= 0)
            continue;
        uint32_t v = w <= 8 ? static_cast<uint32_t>(ch[k]) >> (8 - w) : ShiftLeft(ch[k], w - 8);
        p |= ShiftLeft(v & FieldMask(w), f.shift[k]);
    }
    if (f.bpp < 4)
        p &= (1u << (8 * f.bpp)) - 1;
    return ToMemory(p, f.bpp);
}

uint32_t LowestFieldBit(const Format& f)
{
    for (int k : {kBlue, kGreen, kRed}) {
        if (f.bits[k] > 0 && f.shift[k] >= 0 && f.shift[k] < 8 * f.bpp)
            return ToMemory(1u << f.shift[k], f.bpp);
    }
    return 0;
}

void BuildConverter(Converter& c, const Format& src, const Format& dst)
{
    std::memset(c.lut, 0, sizeof c.lut);
    if (src.indexed) {
        for (uint32_t i = 0; i < 256; ++i) {
            TRGBA col = GreyOrPalette(src.pal, i);
            col.a = 0;
            c.lut[0][i] = Encode(dst, col);
        }
        return;
    }
    for (int32_t byte = 0; byte < src.bpp && byte < 4; ++byte)
        for (uint32_t v = 0; v < 256; ++v)
            c.lut[byte][v] = Encode(dst, Decode(src, v << (8 * byte)));
}

namespace
{
struct CacheEntry {
    Format src, dst;
    TRGBA colors[256]; // the source palette the tables were built from
    bool used = false;
    uint32_t age = 0;
    Converter conv;
};
constexpr int kCacheSize = 4;
CacheEntry g_cache[kCacheSize];
uint32_t g_cacheClock = 0;

void PaletteColors(const Format& f, TRGBA* out)
{
    for (uint32_t i = 0; i < 256; ++i)
        out[i] = GreyOrPalette(f.pal, i);
}

bool SameFormat(const Format& a, const Format& b)
{
    if (a.bpp != b.bpp || a.indexed != b.indexed)
        return false;
    return std::memcmp(a.bits, b.bits, sizeof a.bits) == 0 &&
           std::memcmp(a.shift, b.shift, sizeof a.shift) == 0;
}
} // namespace

const Converter& GetConverter(const Format& src, const Format& dst)
{
    TRGBA colors[256];
    if (src.indexed)
        PaletteColors(src, colors);
    CacheEntry* victim = &g_cache[0];
    for (auto& e : g_cache) {
        if (e.used && SameFormat(e.src, src) && SameFormat(e.dst, dst) &&
            (!src.indexed || std::memcmp(e.colors, colors, sizeof colors) == 0)) {
            e.age = ++g_cacheClock;
            return e.conv;
        }
        if (!e.used || e.age < victim->age)
            victim = &e;
    }
    victim->src = src;
    victim->dst = dst;
    victim->src.pal = victim->dst.pal = nullptr; // the colours are kept instead
    if (src.indexed)
        std::memcpy(victim->colors, colors, sizeof colors);
    BuildConverter(victim->conv, src, dst);
    victim->used = true;
    victim->age = ++g_cacheClock;
    return victim->conv;
}

// ---------------------------------------------------------------- loops

namespace
{
template <int SB> inline uint32_t Lookup(const uint8_t* s, const uint32_t (*lut)[256])
{
    uint32_t v = lut[0][s[0]];
    if constexpr (SB > 1)
        v |= lut[1][s[1]];
    if constexpr (SB > 2)
        v |= lut[2][s[2]];
    if constexpr (SB > 3)
        v |= lut[3][s[3]];
    return v;
}

template <int B> inline uint32_t Load(const uint8_t* p)
{
    if constexpr (B == 1)
        return p[0];
    else if constexpr (B == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    } else if constexpr (B == 3)
        return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
    else {
        uint32_t v;
        std::memcpy(&v, p, 4);
        return v;
    }
}

template <int B> inline void Store(uint8_t* p, uint32_t v)
{
    if constexpr (B == 1)
        p[0] = static_cast<uint8_t>(v);
    else if constexpr (B == 2) {
        auto w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
    } else if constexpr (B == 3) {
        auto w = static_cast<uint16_t>(v);
        std::memcpy(p, &w, 2);
        p[2] = static_cast<uint8_t>(v >> 16);
    } else
        std::memcpy(p, &v, 4);
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// Keyed blits from 8-bit sources test eight pixels at once: transparent
// areas come in runs, so most groups are all key (skipped) or free of it
// (copied without tests).
// IDENT copies the bytes themselves (same-layout 8-bit blits).
template <int DB, bool IDENT>
void KeyedIndexLine(const uint8_t* s, uint8_t* d, int32_t w, const uint32_t* lut, uint32_t key)
{
    auto map = [&](uint8_t i) -> uint32_t { // (default capture: lut goes unused for IDENT)
        if constexpr (IDENT)
            return i;
        else
            return lut[i];
    };
    const uint64_t pattern = kOnes * (key & 0xFF);
    int32_t x = 0;
    for (; x + 8 <= w; x += 8, s += 8, d += 8 * DB) {
        uint64_t z;
        std::memcpy(&z, s, 8);
        z ^= pattern;
        if (z == 0)
            continue;
        if (((z - kOnes) & ~z & kHighs) == 0) {
            if constexpr (IDENT) {
                std::memcpy(d, s, 8);
                continue;
            }
            for (int i = 0; i < 8; ++i) {
                uint32_t v = map(s[i]);
                if constexpr (DB == 3) {
                    if (i < 7) { // the next pixel of the group overwrites the fourth byte
                        std::memcpy(d + 3 * i, &v, 4);
                        continue;
                    }
                }
                Store<DB>(d + i * DB, v);
            }
            continue;
        }
        for (int i = 0; i < 8; ++i)
            if (s[i] != key)
                Store<DB>(d + i * DB, map(s[i]));
    }
    for (; x < w; ++x, ++s, d += DB)
        if (s[0] != key)
            Store<DB>(d, map(s[0]));
}

template <int SB, int DB, int MODE>
void Rows(const uint8_t* src, int32_t sp, uint8_t* dst, int32_t dp, int32_t w, int32_t h, const Converter& c,
          uint32_t key, uint32_t keyOut, uint32_t flip)
{
    const uint32_t(*lut)[256] = c.lut;
    for (int32_t y = 0; y < h; ++y, src += sp, dst += dp) {
        const uint8_t* s = src;
        uint8_t* d = dst;
        if constexpr (MODE == kSkipKey && SB == 1) {
            KeyedIndexLine<DB, false>(s, d, w, lut[0], key);
        } else if constexpr (MODE == kPlain && SB == 1 && DB == 2) {
            // Eight source bytes per load and four looked-up pixels per
            // 8-byte store (the entries of a 2-byte target fit 16 bits):
            // the loop is bound by its loads, one per pixel for the table.
            const uint32_t* t = lut[0];
            auto four = [t](uint64_t p) {
                return static_cast<uint64_t>(t[p & 255]) | static_cast<uint64_t>(t[(p >> 8) & 255]) << 16 |
                       static_cast<uint64_t>(t[(p >> 16) & 255]) << 32 |
                       static_cast<uint64_t>(t[(p >> 24) & 255]) << 48;
            };
            int32_t x = 0;
            for (; x + 8 <= w; x += 8, s += 8, d += 16) {
                uint64_t p;
                std::memcpy(&p, s, 8);
                const uint64_t lo = four(p), hi = four(p >> 32);
                std::memcpy(d, &lo, 8);
                std::memcpy(d + 8, &hi, 8);
            }
            for (; x < w; ++x, ++s, d += 2)
                Store<2>(d, t[s[0]]);
        } else if constexpr (MODE == kPlain && DB == 3) {
            // Whole 4-byte stores that the next pixel overwrites; the last
            // pixel of the line gets exact bytes.
            int32_t x = 0;
            for (; x + 1 < w; ++x, s += SB, d += 3) {
                uint32_t v = Lookup<SB>(s, lut);
                std::memcpy(d, &v, 4);
            }
            if (x < w)
                Store<3>(d, Lookup<SB>(s, lut));
        } else {
            for (int32_t x = 0; x < w; ++x, s += SB, d += DB) {
                uint32_t v = Lookup<SB>(s, lut);
                if constexpr (MODE == kSkipKey) {
                    // Rewriting the old pixel keeps the loop free of branches.
                    if constexpr (DB == 3) {
                        if (Load<SB>(s) == key)
                            continue;
                    } else {
                        v = Load<SB>(s) == key ? Load<DB>(d) : v;
                    }
                } else if constexpr (MODE == kKeepKey) {
                    if (Load<SB>(s) == key)
                        v = keyOut;
                    else if (v == keyOut)
                        v ^= flip;
                }
                Store<DB>(d, v);
            }
        }
    }
}

using RowsFn = void (*)(const uint8_t*, int32_t, uint8_t*, int32_t, int32_t, int32_t, const Converter&,
                        uint32_t, uint32_t, uint32_t);

template <int SB, int DB> RowsFn PickMode(Mode m)
{
    switch (m) {
    case kSkipKey:
        return Rows<SB, DB, kSkipKey>;
    case kKeepKey:
        return Rows<SB, DB, kKeepKey>;
    default:
        return Rows<SB, DB, kPlain>;
    }
}

template <int SB> RowsFn PickTarget(int32_t db, Mode m)
{
    switch (db) {
    case 1:
        return PickMode<SB, 1>(m);
    case 2:
        return PickMode<SB, 2>(m);
    case 3:
        return PickMode<SB, 3>(m);
    default:
        return PickMode<SB, 4>(m);
    }
}

RowsFn Pick(int32_t sb, int32_t db, Mode m)
{
    switch (sb) {
    case 1:
        return PickTarget<1>(db, m);
    case 2:
        return PickTarget<2>(db, m);
    case 3:
        return PickTarget<3>(db, m);
    default:
        return PickTarget<4>(db, m);
    }
}

#if defined(__SSE2__)
// 16 byte flags from 16 bits: 0xFF where the bit is set.
inline __m128i BitsToBytes(uint32_t bits)
{
    const __m128i spread = _mm_set_epi64x(static_cast<int64_t>(((bits >> 8) & 0xFF) * 0x0101010101010101ull),
                                          static_cast<int64_t>((bits & 0xFF) * 0x0101010101010101ull));
    const __m128i select = _mm_set1_epi64x(static_cast<int64_t>(0x8040201008040201ull));
    return _mm_cmpeq_epi8(_mm_and_si128(spread, select), select);
}

// Keyed 3-byte pixels, 16 (48 bytes) per step: the bytes are compared with
// the key repeated in its three phases, and a pixel is the key when its
// three bytes all match. Transparent areas come in runs, so a group is
// often all key (nothing written) or free of it (copied whole); a mixed
// group keeps the destination's bytes under the key pixels. Returns the
// pixels done.
struct Key24 {
    __m128i k0, k1, k2; // the key's bytes over 48 bytes, in their three phases
};

// Built once per blit: glyphs and sprites are many short lines.
Key24 MakeKey24(uint32_t key)
{
    alignas(16) uint8_t pattern[48];
    for (int j = 0; j < 48; j += 3) {
        pattern[j] = static_cast<uint8_t>(key);
        pattern[j + 1] = static_cast<uint8_t>(key >> 8);
        pattern[j + 2] = static_cast<uint8_t>(key >> 16);
    }
    return Key24{_mm_load_si128(reinterpret_cast<const __m128i*>(pattern)),
                 _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 16)),
                 _mm_load_si128(reinterpret_cast<const __m128i*>(pattern + 32))};
}

int32_t KeyedLine24(const uint8_t* s, uint8_t* d, int32_t w, const Key24& key)
{
    const __m128i k0 = key.k0, k1 = key.k1, k2 = key.k2;
    constexpr uint64_t kPixelBits = 0x249249249249ull; // bit 3i for pixel i
    int32_t x = 0;
    for (; x + 16 <= w; x += 16, s += 48, d += 48) {
        const __m128i s0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
        const __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 16));
        const __m128i s2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 32));
        const uint64_t same = static_cast<uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(s0, k0))) |
                              static_cast<uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(s1, k1))) << 16 |
                              static_cast<uint64_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(s2, k2))) << 32;
        const uint64_t keyed = same & (same >> 1) & (same >> 2) & kPixelBits;
        if (keyed == kPixelBits)
            continue;
        __m128i o0 = s0, o1 = s1, o2 = s2;
        if (keyed != 0) {
            const uint64_t keep = keyed | (keyed << 1) | (keyed << 2); // byte flags
            const __m128i m0 = BitsToBytes(static_cast<uint32_t>(keep));
            const __m128i m1 = BitsToBytes(static_cast<uint32_t>(keep >> 16));
            const __m128i m2 = BitsToBytes(static_cast<uint32_t>(keep >> 32));
            const __m128i d0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
            const __m128i d1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 16));
            const __m128i d2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 32));
            o0 = _mm_or_si128(_mm_and_si128(m0, d0), _mm_andnot_si128(m0, s0));
            o1 = _mm_or_si128(_mm_and_si128(m1, d1), _mm_andnot_si128(m1, s1));
            o2 = _mm_or_si128(_mm_and_si128(m2, d2), _mm_andnot_si128(m2, s2));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), o0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32), o2);
    }
    return x;
}
#endif

template <int B>
void KeyedCopy(const uint8_t* src, int32_t sp, uint8_t* dst, int32_t dp, int32_t w, int32_t h, uint32_t key)
{
#if defined(__SSE2__)
    [[maybe_unused]] Key24 key24{};
    if constexpr (B == 3)
        if (w >= 16)
            key24 = MakeKey24(key);
#endif
    for (int32_t y = 0; y < h; ++y, src += sp, dst += dp) {
        const uint8_t* s = src;
        uint8_t* d = dst;
        if constexpr (B == 1) {
            KeyedIndexLine<1, true>(s, d, w, nullptr, key);
        } else if constexpr (B == 3) {
            int32_t x = 0;
#if defined(__SSE2__)
            if (w >= 16)
                x = KeyedLine24(s, d, w, key24);
            s += 3 * x;
            d += 3 * x;
#endif
            for (; x < w; ++x, s += 3, d += 3) {
                uint32_t v = Load<3>(s);
                if (v != key)
                    Store<3>(d, v);
            }
        } else {
            // A select instead of a branch: the compiler turns this into
            // vector compares and blends.
            for (int32_t x = 0; x < w; ++x, s += B, d += B) {
                uint32_t v = Load<B>(s);
                uint32_t o = Load<B>(d);
                Store<B>(d, v == key ? o : v);
            }
        }
    }
}

template <int SB, bool KEYED>
void IndexRows(const uint8_t* src, int32_t sp, uint8_t* dst, int32_t dp, int32_t w, int32_t h,
               const Converter& c, const uint8_t* table, uint32_t key, uint8_t k1, uint8_t k2)
{
    const uint32_t(*lut)[256] = c.lut;
    for (int32_t y = 0; y < h; ++y, src += sp, dst += dp) {
        const uint8_t* s = src;
        for (int32_t x = 0; x < w; ++x, s += SB) {
            uint32_t v = Lookup<SB>(s, lut);
            auto idx = static_cast<uint8_t>(table != nullptr ? table[v & (kColorMatchSize - 1)] : v);
            if constexpr (KEYED) {
                if (Load<SB>(s) == key)
                    idx = k1;
                else if (idx == k1)
                    idx = k2;
            }
            dst[x] = idx;
        }
    }
}

template <bool KEYED>
void IndexPick(int32_t sb, const uint8_t* src, int32_t sp, uint8_t* dst, int32_t dp, int32_t w, int32_t h,
               const Converter& c, const uint8_t* table, uint32_t key, uint8_t k1, uint8_t k2)
{
    switch (sb) {
    case 1:
        return IndexRows<1, KEYED>(src, sp, dst, dp, w, h, c, table, key, k1, k2);
    case 2:
        return IndexRows<2, KEYED>(src, sp, dst, dp, w, h, c, table, key, k1, k2);
    case 3:
        return IndexRows<3, KEYED>(src, sp, dst, dp, w, h, c, table, key, k1, k2);
    default:
        return IndexRows<4, KEYED>(src, sp, dst, dp, w, h, c, table, key, k1, k2);
    }
}

// Runs body over the lines in bands of 32, with the load-data callback
// after each full band.
template <class F> void InBands(int32_t h, F body)
{
    for (int32_t y = 0; y < h; y += kCallbackLines) {
        int32_t n = h - y < kCallbackLines ? h - y : kCallbackLines;
        body(y, n);
        if (n == kCallbackLines)
            CallLoadData();
    }
}
} // namespace

void ConvertPixels(const uint8_t* src, int32_t srcPitch, int32_t srcBpp, uint8_t* dst, int32_t dstPitch,
                   int32_t dstBpp, int32_t w, int32_t h, const Converter& c, Mode mode, uint32_t key,
                   uint32_t keyOut, uint32_t flip)
{
    RowsFn fn = Pick(srcBpp, dstBpp, mode);
    InBands(h, [&](int32_t y, int32_t n) {
        fn(src + static_cast<ptrdiff_t>(y) * srcPitch, srcPitch, dst + static_cast<ptrdiff_t>(y) * dstPitch,
           dstPitch, w, n, c, key, keyOut, flip);
    });
}

namespace
{
// One line of a same-layout copy. Sprites and glyphs copy many short lines,
// for which a library call per line costs more than the bytes: up to 128
// bytes go in 16-byte pieces the compiler inlines (the last piece may
// overlap the one before; source and target never overlap here).
inline void CopyLine(uint8_t* d, const uint8_t* s, size_t n)
{
    if (n > 128) {
        std::memcpy(d, s, n);
    } else if (n >= 16) {
        size_t i = 0;
        for (; i + 16 <= n; i += 16)
            std::memcpy(d + i, s + i, 16);
        if (i < n)
            std::memcpy(d + n - 16, s + n - 16, 16);
    } else if (n >= 8) {
        std::memcpy(d, s, 8);
        std::memcpy(d + n - 8, s + n - 8, 8);
    } else if (n >= 4) {
        std::memcpy(d, s, 4);
        std::memcpy(d + n - 4, s + n - 4, 4);
    } else {
        for (size_t i = 0; i < n; ++i)
            d[i] = s[i];
    }
}
} // namespace

void CopyPixels(const uint8_t* src, int32_t srcPitch, uint8_t* dst, int32_t dstPitch, int32_t bpp, int32_t w,
                int32_t h, bool skipKey, uint32_t key)
{
    size_t line = static_cast<size_t>(w) * static_cast<size_t>(bpp);
    InBands(h, [&](int32_t y0, int32_t n) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(y0) * srcPitch;
        uint8_t* d = dst + static_cast<ptrdiff_t>(y0) * dstPitch;
        if (!skipKey) {
            if (srcPitch == dstPitch && static_cast<size_t>(srcPitch) == line) {
                std::memcpy(d, s, line * static_cast<size_t>(n)); // contiguous lines: one copy
                return;
            }
            for (int32_t y = 0; y < n; ++y, s += srcPitch, d += dstPitch)
                CopyLine(d, s, line);
            return;
        }
        switch (bpp) {
        case 1:
            return KeyedCopy<1>(s, srcPitch, d, dstPitch, w, n, key);
        case 2:
            return KeyedCopy<2>(s, srcPitch, d, dstPitch, w, n, key);
        case 3:
            return KeyedCopy<3>(s, srcPitch, d, dstPitch, w, n, key);
        default:
            return KeyedCopy<4>(s, srcPitch, d, dstPitch, w, n, key);
        }
    });
}

void IndexPixels(const uint8_t* src, int32_t srcPitch, int32_t srcBpp, uint8_t* dst, int32_t dstPitch,
                 int32_t w, int32_t h, const Converter& c, const uint8_t* table, bool keyed, uint32_t key,
                 uint8_t k1, uint8_t k2)
{
    InBands(h, [&](int32_t y, int32_t n) {
        const uint8_t* s = src + static_cast<ptrdiff_t>(y) * srcPitch;
        uint8_t* d = dst + static_cast<ptrdiff_t>(y) * dstPitch;
        if (keyed)
            IndexPick<true>(srcBpp, s, srcPitch, d, dstPitch, w, n, c, table, key, k1, k2);
        else
            IndexPick<false>(srcBpp, s, srcPitch, d, dstPitch, w, n, c, table, key, k1, k2);
    });
}

} // namespace tvgfx
