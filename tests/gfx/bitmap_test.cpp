// Bitmaps: creation and pitch, pixel access, blits per depth pair, colour
// keys through blits and conversions, the colour-match file, golden hashes.
#include "tarvex_test.h"

#include "gfx/savename.h"

#include <tarvex/bitmap.h>

#include <SDL.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace
{

class BitmapTest : public tvtest::TarvexTest
{
};

// FNV-1a over the pixel bytes of each line (padding excluded).
uint32_t Hash(const CBitmap& b)
{
    uint32_t h = 2166136261u;
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t i = 0; i < b.width * b.bytesPerPixel; ++i) {
            h ^= b.data[y * b.pitch + i];
            h *= 16777619u;
        }
    return h;
}

uint32_t g_seed = 12345;
uint8_t Next()
{
    g_seed ^= g_seed << 13;
    g_seed ^= g_seed >> 17;
    g_seed ^= g_seed << 5;
    return static_cast<uint8_t>(g_seed >> 8);
}

// The layouts used below.
bool Make565(CBitmap& b, int w, int h)
{
    return b.CreateRGB(w, h, 16, 5, 6, 5, 11, 5, 0, 0);
}
bool Make555(CBitmap& b, int w, int h)
{
    return b.CreateRGB(w, h, 16, 5, 5, 5, 10, 5, 0, 0);
}
bool MakeBGR(CBitmap& b, int w, int h)
{
    return b.CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0);
}

uint16_t Px16(const CBitmap& b, int x, int y)
{
    uint16_t v;
    std::memcpy(&v, b.data + y * b.pitch + x * 2, 2);
    return v;
}

TEST_F(BitmapTest, CreatePitchAndEmptyState)
{
    struct Case {
        int32_t width, bits, pitch;
    } cases[] = {{100, 24, 300}, {101, 24, 304}, {1, 8, 4},   {4, 8, 4},
                 {3, 16, 8},     {5, 32, 20},    {7, 12, 16}, {0, 8, 0}};
    for (const auto& c : cases) {
        CBitmap b;
        ASSERT_TRUE(b.CreateIndex(c.width, 3, c.bits, nullptr, 0));
        EXPECT_EQ(b.pitch, c.pitch) << c.width << "x" << c.bits;
        EXPECT_EQ(b.bytesPerPixel, (c.bits + 7) / 8);
        EXPECT_EQ(b.trueColor, 0);
        EXPECT_EQ(b.bounds.right, c.width - 1);
        EXPECT_EQ(b.bounds.bottom, 2);
    }

    CBitmap b;
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.trueColor, 1);
    EXPECT_EQ(b.changed, 1);
    EXPECT_EQ(b.bounds.right, -1);
    EXPECT_FALSE(b.CreateRGBA(4, 4, 12, 4, 4, 4, 0, 8, 4, 0, 0, 0));
    ASSERT_TRUE(Make565(b, 3, 2));
    EXPECT_EQ(b.pitch, 8);
    for (int i = 0; i < b.pitch * b.height; ++i)
        ASSERT_EQ(b.data[i], 0);
    EXPECT_EQ(b.redShift, 11);

    // Sizes that do not fit 31 bits are refused and leave the bitmap as it was.
    EXPECT_FALSE(b.CreateRGB(70000, 70000, 32, 8, 8, 8, 16, 8, 0, 0));
    EXPECT_NE(tvtest::LastError().find("Invalid bitmap size"), std::string::npos);
    EXPECT_FALSE(b.CreateIndex(-1, 5, 8, nullptr, 0));
    EXPECT_FALSE(b.CreateIndex(0x40000000, 2, 8, nullptr, 0));
    EXPECT_FALSE(b.CreateIndex(5, 5, 0, nullptr, 0));
    EXPECT_EQ(b.width, 3);
    ASSERT_NE(b.data, nullptr);

    CPalette pal;
    pal.colors[1] = TRGBA(9, 8, 7, 6);
    ASSERT_TRUE(b.CreateIndex(2, 2, 8, &pal, 0));
    ASSERT_NE(b.palette, nullptr);
    EXPECT_NE(b.palette, &pal);
    EXPECT_TRUE(b.palette->colors[1] == pal.colors[1]);
    EXPECT_TRUE(b.Free());
    EXPECT_EQ(b.data, nullptr);
    EXPECT_EQ(b.palette, nullptr);
}

TEST_F(BitmapTest, PixelAccessPerDepth)
{
    const TRGBA c(0xFF, 0x84, 0x13, 0x7F);
    struct Case {
        int bits;
        TRGBA want; // what GetPixel reads back
    } cases[] = {
        {16, TRGBA(0xF8, 0x84, 0x10, 0x55)},
        {24, TRGBA(0xFF, 0x84, 0x13, 0x55)},
        {32, TRGBA(0xFF, 0x84, 0x13, 0x7F)},
    };
    for (const auto& k : cases) {
        CBitmap b;
        if (k.bits == 16)
            ASSERT_TRUE(Make565(b, 3, 3));
        else if (k.bits == 24)
            ASSERT_TRUE(MakeBGR(b, 3, 3));
        else
            ASSERT_TRUE(b.CreateRGBA(3, 3, 32, 8, 8, 8, 8, 16, 8, 0, 24, 0));
        ASSERT_TRUE(b.PutPixel(2, 1, &c));
        TRGBA out(0, 0, 0, 0x55);
        ASSERT_TRUE(b.GetPixel(2, 1, &out));
        EXPECT_TRUE(out == k.want) << k.bits;
        EXPECT_FALSE(b.GetPixel(3, 0, &out));
        EXPECT_FALSE(b.PutPixel(0, -1, &c));
        EXPECT_FALSE(b.GetPixel(b.pitch * b.height, &out));
    }
    // Memory order of the layouts.
    CBitmap b;
    ASSERT_TRUE(MakeBGR(b, 2, 1));
    b.PutPixel(0, 0, &c);
    EXPECT_EQ(b.data[0], 0x13);
    EXPECT_EQ(b.data[2], 0xFF);
    ASSERT_TRUE(Make565(b, 2, 1));
    b.PutPixel(1, 0, &c);
    EXPECT_EQ(Px16(b, 1, 0), (31 << 11) | (0x84 >> 2 << 5) | (0x13 >> 3));

    // 8-bit through the palette: FindMatch, and the whole entry back.
    CPalette pal;
    pal.colors[17] = TRGBA(250, 130, 20, 200);
    ASSERT_TRUE(b.CreateIndex(4, 2, 8, &pal, 0));
    ASSERT_TRUE(b.PutPixel(4 + 1, &c)); // byte offset form: (1, 1)
    EXPECT_EQ(b.data[b.pitch + 1], 17);
    TRGBA out;
    ASSERT_TRUE(b.GetPixel(1, 1, &out));
    EXPECT_TRUE(out == pal.colors[17]);

    ASSERT_TRUE(Make555(b, 5, 3));
    b.changed = 0;
    ASSERT_TRUE(b.Fill(&c));
    EXPECT_EQ(b.changed, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            ASSERT_EQ(Px16(b, x, y), (31 << 10) | (0x84 >> 3 << 5) | (0x13 >> 3));
}

// A 4 x 2 source of each depth with the same four colours (and their
// key at the top-left); each target pixel is checked against the rule.
struct Sources {
    CPalette pal;
    CBitmap s8, s16, s24;
    Sources()
    {
        const TRGBA colors[4] = {TRGBA(0, 0, 0), TRGBA(0xFF, 0x80, 0x13), TRGBA(0x0C, 0xF4, 0x7E),
                                 TRGBA(0x90, 0x08, 0xE9)};
        for (int i = 0; i < 4; ++i)
            pal.colors[i] = colors[i];
        s8.CreateIndex(4, 2, 8, &pal, 0);
        Make565(s16, 4, 2);
        MakeBGR(s24, 4, 2);
        for (int i = 0; i < 8; ++i) {
            int ci = (i * 3) % 4; // 0 3 2 1 / 0 3 2 1
            s8.PutPixel(i % 4, i / 4, &colors[ci]);
            s16.PutPixel(i % 4, i / 4, &colors[ci]);
            s24.PutPixel(i % 4, i / 4, &colors[ci]);
        }
    }
    CBitmap& Get(int bits) { return bits == 8 ? s8 : (bits == 16 ? s16 : s24); }
};

TEST_F(BitmapTest, BltEachDepthPairPixelByPixel)
{
    Sources src;
    for (int dbits : {8, 16, 24}) {
        for (int sbits : {8, 16, 24}) {
            for (int key : {0, 1}) {
                CBitmap dst;
                if (dbits == 8)
                    ASSERT_TRUE(dst.CreateIndex(6, 4, 8, nullptr, 0));
                else if (dbits == 16)
                    ASSERT_TRUE(Make555(dst, 6, 4));
                else
                    ASSERT_TRUE(dst.CreateRGB(6, 4, 24, 8, 8, 8, 16, 8, 0, 0)); // RGB byte order
                std::memset(dst.data, 0xA5, static_cast<size_t>(dst.pitch * dst.height));
                CBitmap& s = src.Get(sbits);
                dst.changed = 0;
                EXPECT_TRUE(dst.Blt(&s, 0, 0, 1, 1, -1, -1, key, 0, 0));
                EXPECT_EQ(dst.changed, 1);
                bool copies = dbits != 8 || sbits == 8;
                for (int y = 0; y < 4; ++y)
                    for (int x = 0; x < 6; ++x) {
                        int bpp = dbits / 8;
                        const uint8_t* p = dst.data + y * dst.pitch + x * bpp;
                        bool inside = x >= 1 && x <= 4 && y >= 1 && y <= 2;
                        bool keyPixel = inside && (x - 1) == 0; // the key colour sits in column 0
                        if (!copies || !inside || (key && keyPixel)) {
                            for (int i = 0; i < bpp; ++i)
                                ASSERT_EQ(p[i], 0xA5)
                                    << dbits << "<-" << sbits << " key " << key << " at " << x << "," << y;
                            continue;
                        }
                        if (dbits == 8) {
                            EXPECT_EQ(p[0], s.data[(y - 1) * s.pitch + (x - 1)]);
                            continue;
                        }
                        TRGBA c;
                        s.GetPixel(x - 1, y - 1, &c); // the source colour, widened to 8 bits
                        if (dbits == 16) {
                            uint16_t want =
                                static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
                            EXPECT_EQ(Px16(dst, x, y), want)
                                << dbits << "<-" << sbits << " at " << x << "," << y;
                        } else {
                            EXPECT_EQ(p[0], c.r);
                            EXPECT_EQ(p[1], c.g);
                            EXPECT_EQ(p[2], c.b);
                        }
                    }
            }
        }
    }
    // Widening is a plain shift: 5-6-5 white reads back as (248, 252, 248).
    CBitmap w16, w24;
    Make565(w16, 1, 1);
    MakeBGR(w24, 1, 1);
    std::memset(w16.data, 0xFF, 2);
    w24.Blt(&w16, 0, 0, 0, 0, 1, 1, 0, 0, 0);
    EXPECT_EQ(w24.data[0], 248);
    EXPECT_EQ(w24.data[1], 252);
    EXPECT_EQ(w24.data[2], 248);
}

// Keyed blits of wider 8-bit pictures (runs of key pixels, lone ones, the
// line tails) match a pixel-by-pixel reading of the rule.
TEST_F(BitmapTest, KeyedBltFromIndexedRuns)
{
    CPalette pal;
    for (int i = 0; i < 256; ++i)
        pal.colors[i] =
            TRGBA(static_cast<uint8_t>(i * 5), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i ^ 0x5A));
    CBitmap s;
    ASSERT_TRUE(s.CreateIndex(37, 3, 8, &pal, 0));
    g_seed = 7;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 37; ++x) {
            uint8_t v = Next();
            bool run = (x >= 8 && x < 16) || (x >= 20 && x < 29 && y == 1);
            s.data[y * s.pitch + x] = (run || v < 40) ? 9 : v;
        }
    s.data[0] = 9; // the key
    for (int dbits : {8, 16, 24}) {
        CBitmap d;
        if (dbits == 8)
            ASSERT_TRUE(d.CreateIndex(37, 3, 8, nullptr, 0));
        else if (dbits == 16)
            ASSERT_TRUE(Make565(d, 37, 3));
        else
            ASSERT_TRUE(MakeBGR(d, 37, 3));
        std::memset(d.data, 0xC3, static_cast<size_t>(d.pitch * d.height));
        CBitmap before(d);
        d.Blt(&s, 0, 0, 0, 0, -1, -1, XBLT_COLORKEY, 0, 0);
        int bpp = dbits / 8;
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 37; ++x) {
                const uint8_t* got = d.data + y * d.pitch + x * bpp;
                uint8_t idx = s.data[y * s.pitch + x];
                if (idx == 9) {
                    ASSERT_EQ(std::memcmp(got, before.data + y * d.pitch + x * bpp, static_cast<size_t>(bpp)),
                              0)
                        << dbits << " at " << x << "," << y;
                    continue;
                }
                CBitmap one;
                ASSERT_TRUE(dbits == 8 ? one.CreateIndex(1, 1, 8, nullptr, 0)
                                       : (dbits == 16 ? Make565(one, 1, 1) : MakeBGR(one, 1, 1)));
                if (dbits == 8)
                    one.data[0] = idx;
                else
                    one.PutPixel(0, 0, &pal.colors[idx]);
                ASSERT_EQ(std::memcmp(got, one.data, static_cast<size_t>(bpp)), 0)
                    << dbits << " at " << x << "," << y;
            }
    }
}

// Unkeyed same-layout blits copy each line in pieces sized by its length:
// every length from one byte to past the piecewise limit lands exactly,
// with the pixels around the target area (same line and the lines above
// and below) untouched.
TEST_F(BitmapTest, PlainBltLineLengths)
{
    for (int bits : {8, 16, 24}) {
        for (int w : {1, 2, 3, 5, 7, 8, 11, 16, 17, 21, 32, 43, 48, 64, 65, 100}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(w) + " wide");
            CBitmap s, d;
            auto make = [&](CBitmap& b, int width, int height) {
                return bits == 8 ? b.CreateIndex(width, height, 8, nullptr, 0)
                                 : (bits == 16 ? Make555(b, width, height) : MakeBGR(b, width, height));
            };
            ASSERT_TRUE(make(s, w + 3, 4));
            ASSERT_TRUE(make(d, w + 6, 6));
            g_seed = 21;
            for (int i = 0; i < s.pitch * s.height; ++i)
                s.data[i] = Next();
            for (int i = 0; i < d.pitch * d.height; ++i)
                d.data[i] = static_cast<uint8_t>(i * 13 + 5);
            CBitmap before(d);
            ASSERT_TRUE(d.Blt(&s, 2, 1, 3, 2, w, 3, 0, 0, 0));
            const int bpp = bits / 8;
            for (int y = 0; y < d.height; ++y)
                for (int i = 0; i < d.pitch; ++i) {
                    const int x = i / bpp;
                    const bool inside = y >= 2 && y < 5 && x >= 3 && x < 3 + w;
                    const uint8_t want = inside ? s.data[(y - 1) * s.pitch + (x - 1) * bpp + i % bpp]
                                                : before.data[y * d.pitch + i];
                    ASSERT_EQ(d.data[y * d.pitch + i], want) << "byte " << i << " of line " << y;
                }
        }
    }
}

// Unkeyed 8-bit to 16-bit blits go eight pixels per step: lines of every
// length around that step land exactly, the pixels beside them untouched.
TEST_F(BitmapTest, IndexedToSixteenBitLineLengths)
{
    CPalette pal;
    for (int i = 0; i < 256; ++i)
        pal.colors[i] =
            TRGBA(static_cast<uint8_t>(i * 3), static_cast<uint8_t>(i ^ 0xA5), static_cast<uint8_t>(255 - i));
    for (int w : {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 37}) {
        SCOPED_TRACE(w);
        CBitmap s, d;
        ASSERT_TRUE(s.CreateIndex(w, 2, 8, &pal, 0));
        ASSERT_TRUE(Make555(d, w + 4, 4));
        g_seed = 5;
        for (int i = 0; i < s.pitch * s.height; ++i)
            s.data[i] = Next();
        std::memset(d.data, 0x5A, static_cast<size_t>(d.pitch * d.height));
        ASSERT_TRUE(d.Blt(&s, 0, 0, 2, 1, -1, -1, 0, 0, 0));
        for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) {
                uint16_t want = 0x5A5A;
                if (y >= 1 && y < 3 && x >= 2 && x < 2 + w) {
                    const TRGBA& c = pal.colors[s.data[(y - 1) * s.pitch + x - 2]];
                    want = static_cast<uint16_t>(((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3));
                }
                ASSERT_EQ(Px16(d, x, y), want) << x << "," << y;
            }
    }
}

// Keyed 24-bit blits, whose lines go 16 pixels at a time: groups all key,
// groups without it, mixed groups, pixels that share one or two bytes with
// the key, and line tails all match a pixel-by-pixel reading of the rule.
void KeyedBlt24(int w)
{
    const int h = 5;
    CBitmap s, d;
    ASSERT_TRUE(MakeBGR(s, w, h));
    ASSERT_TRUE(MakeBGR(d, w, h));
    const uint8_t key[3] = {0x10, 0x20, 0x30};
    g_seed = 11;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = s.data + y * s.pitch + x * 3;
            uint8_t v = Next();
            bool keyed = (y == 1 && x < 32) || (y == 2 && x >= 16 && x < 32) || (y == 3 && x % 5 == 0) ||
                         (y == 4 && x >= 48) || v < 30;
            if (y == 0 && x >= 16 && x < 32)
                keyed = false; // one group free of the key
            std::memcpy(p, key, 3);
            if (!keyed) {
                // Near misses: one or two bytes of the key, or none.
                p[v % 3] = static_cast<uint8_t>(Next() | 1) ^ key[v % 3];
                if (v & 8)
                    p[(v + 1) % 3] = Next();
            }
        }
    std::memcpy(s.data, key, 3); // the top-left pixel is the key
    for (int i = 0; i < d.pitch * d.height; ++i)
        d.data[i] = static_cast<uint8_t>(i * 7 + 1);
    CBitmap before(d);
    ASSERT_TRUE(d.Blt(&s, 0, 0, 0, 0, -1, -1, XBLT_COLORKEY, 0, 0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* src = s.data + y * s.pitch + x * 3;
            const uint8_t* want = std::memcmp(src, key, 3) == 0 ? before.data + y * d.pitch + x * 3 : src;
            ASSERT_EQ(std::memcmp(d.data + y * d.pitch + x * 3, want, 3), 0) << x << "," << y;
        }
    // The pitch padding after each line is never written.
    for (int y = 0; y < h; ++y)
        for (int i = w * 3; i < d.pitch; ++i)
            ASSERT_EQ(d.data[y * d.pitch + i], before.data[y * d.pitch + i]) << y;
}

TEST_F(BitmapTest, KeyedBlt24InGroups)
{
    // Three groups of 16 and a tail of 5; exactly one group; lines shorter
    // than a group (glyphs), which go pixel by pixel.
    for (const int w : {53, 16, 15, 3}) {
        SCOPED_TRACE(w);
        KeyedBlt24(w);
    }
}

TEST_F(BitmapTest, BltUnsupportedPairsClippingAndOverlap)
{
    Sources src;
    CBitmap d8, d32;
    ASSERT_TRUE(d8.CreateIndex(4, 2, 8, nullptr, 0));
    ASSERT_TRUE(d32.CreateRGBA(4, 2, 32, 8, 8, 8, 8, 16, 8, 0, 24, 0));
    std::memset(d8.data, 7, 8);
    EXPECT_TRUE(d8.Blt(&src.s16, 0, 0, 0, 0, -1, -1, 0, 0, 0));  // 8 <- 16 copies nothing
    EXPECT_TRUE(d32.Blt(&src.s24, 0, 0, 0, 0, -1, -1, 0, 0, 0)); // nor does a 32-bit target
    EXPECT_FALSE(d8.BltScale(&src.s16, nullptr, nullptr, 0)); // a scaled one says so
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(d8.data[i], 7);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(d32.data[i], 0);

    // Clipping on every side: source starting outside, target running off.
    CBitmap d;
    ASSERT_TRUE(d.CreateIndex(3, 3, 8, nullptr, 0));
    d.Blt(&src.s8, -1, 0, 1, -1, 5, 5, 0, 0, 0);
    // Source column -1 is outside: x moves to 2; row -1 of the target is cut.
    const uint8_t want[9] = {0, 0, src.s8.data[src.s8.pitch + 0], 0, 0, 0, 0, 0, 0};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(d.data[y * d.pitch + x], want[y * 3 + x]) << x << "," << y;

    // Overlapping blits within one bitmap read the pixels as they were.
    CBitmap o;
    ASSERT_TRUE(o.CreateIndex(6, 1, 8, nullptr, 0));
    for (int i = 0; i < 6; ++i)
        o.data[i] = static_cast<uint8_t>(i + 1);
    o.Blt(&o, 0, 0, 1, 0, 5, 1, 0, 0, 0);
    const uint8_t shifted[6] = {1, 1, 2, 3, 4, 5};
    EXPECT_EQ(std::memcmp(o.data, shifted, 6), 0);
    o.Blt(&o, 2, 0, 0, 0, 4, 1, 0, 0, 0);
    const uint8_t back[6] = {2, 3, 4, 5, 4, 5};
    EXPECT_EQ(std::memcmp(o.data, back, 6), 0);
}

TEST_F(BitmapTest, ConvertIndexKeepsTheKey)
{
    // Palette: index 0 black (the key), index 1 black too, the rest grey.
    CPalette src;
    src.colors[0] = TRGBA(0, 0, 0);
    src.colors[1] = TRGBA(0, 0, 0); // black again under another index
    CBitmap b;
    ASSERT_TRUE(b.CreateIndex(4, 2, 8, &src, 0));
    const uint8_t pixels[8] = {0, 1, 0, 200, 1, 1, 0, 50};
    for (int i = 0; i < 8; ++i)
        b.data[(i / 4) * b.pitch + i % 4] = pixels[i];

    CPalette target; // grey ramp: black matches 0, second best 1
    target.colors[3] = TRGBA(0, 0, 0);
    CBitmap keyed(b), plain(b);
    ASSERT_TRUE(keyed.ConvertIndex(-1, -1, 8, &target, 0));
    ASSERT_TRUE(plain.ConvertIndex(-1, -1, 8, &target, XCONV_NO_COLORKEY));
    // Without the key pass both blacks map to index 0.
    const uint8_t wantPlain[8] = {0, 0, 0, 200, 0, 0, 0, 50};
    // With it the key keeps FindMatch(black) = 0 and the others move to the
    // second best (index 3, the other black).
    const uint8_t wantKeyed[8] = {0, 3, 0, 200, 3, 3, 0, 50};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(plain.data[(i / 4) * plain.pitch + i % 4], wantPlain[i]) << i;
        EXPECT_EQ(keyed.data[(i / 4) * keyed.pitch + i % 4], wantKeyed[i]) << i;
    }
    EXPECT_EQ(keyed.bits, 8);
    ASSERT_NE(keyed.palette, nullptr);
    EXPECT_TRUE(keyed.palette->colors[3] == target.colors[3]);
    EXPECT_EQ(keyed.trueColor, 0);
    EXPECT_FALSE(keyed.ConvertIndex(-1, -1, 8, nullptr, 0));
}

TEST_F(BitmapTest, ConvertIndexFromRgbUsesTheTabFile)
{
    CPalette pal;
    for (int i = 0; i < 256; ++i)
        pal.colors[i] =
            TRGBA(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3));
    // The palette is named after its file, so its table is "game.pal.tab".
    std::ofstream("game.pal", std::ios::binary).write(std::string(24 + 1024, '\0').data(), 24 + 1024);
    pal.Load("game.pal");
    for (int i = 0; i < 256; ++i)
        pal.colors[i] =
            TRGBA(static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3));

    CBitmap rgb;
    ASSERT_TRUE(MakeBGR(rgb, 32, 8));
    g_seed = 99;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 96; ++x)
            rgb.data[y * rgb.pitch + x] = Next();
    CBitmap first(rgb);
    ASSERT_TRUE(first.ConvertIndex(-1, -1, 8, &pal, XCONV_NO_COLORKEY));
    // Every pixel is the palette match of its 5-5-5 colour.
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 32; ++x) {
            const uint8_t* p = rgb.data + y * rgb.pitch + x * 3;
            TRGBA q(static_cast<uint8_t>(p[2] & 0xF8), static_cast<uint8_t>(p[1] & 0xF8),
                    static_cast<uint8_t>(p[0] & 0xF8));
            ASSERT_EQ(first.data[y * first.pitch + x], pal.FindMatch(&q)) << x << "," << y;
        }
    uint32_t size = 0;
    ASSERT_TRUE(xFileSize("game.pal.tab", &size));
    EXPECT_EQ(size, 32768u);
    std::vector<char> full(32768);
    std::ifstream("game.pal.tab", std::ios::binary).read(full.data(), 32768);

    // A short file keeps its entries and has the rest computed (and is
    // written back whole); a file of another palette is rebuilt.
    for (int variant = 0; variant < 2; ++variant) {
        xDiscardColorMatch();
        if (variant == 0)
            std::ofstream("game.pal.tab", std::ios::binary).write(full.data(), 1000);
        else
            std::ofstream("game.pal.tab", std::ios::binary).write(std::string(32768, '\x07').data(), 32768);
        CBitmap again(rgb);
        ASSERT_TRUE(again.ConvertIndex(-1, -1, 8, &pal, XCONV_NO_COLORKEY));
        EXPECT_EQ(Hash(again), Hash(first)) << variant;
        std::vector<char> now(32768);
        ASSERT_TRUE(xFileSize("game.pal.tab", &size));
        EXPECT_EQ(size, 32768u);
        std::ifstream("game.pal.tab", std::ios::binary).read(now.data(), 32768);
        EXPECT_TRUE(now == full) << variant;
    }
    // A different palette of another name is not answered from the cache.
    CPalette grey;
    CBitmap g(rgb);
    ASSERT_TRUE(g.ConvertIndex(-1, -1, 8, &grey, XCONV_NO_COLORKEY));
    EXPECT_NE(Hash(g), Hash(first));
    EXPECT_TRUE(xFileExists(".pal.tab"));
}

TEST_F(BitmapTest, ConvertRgbAndColourKeys)
{
    Sources src;
    // 8-bit to 5-6-5: the key (black) stays unique; another black pixel is
    // nudged by one blue step.
    src.pal.colors[5] = TRGBA(0, 0, 0);
    CBitmap k;
    ASSERT_TRUE(k.CreateIndex(3, 1, 8, &src.pal, 0));
    k.data[0] = 0;
    k.data[1] = 5; // same colour, different index
    k.data[2] = 1;
    CBitmap kk(k);
    ASSERT_TRUE(kk.ConvertRGB(-1, -1, 16, 5, 6, 5, 11, 5, 0, 0));
    EXPECT_EQ(Px16(kk, 0, 0), 0);
    EXPECT_EQ(Px16(kk, 1, 0), 1);
    EXPECT_EQ(Px16(kk, 2, 0), (31 << 11) | (0x80 >> 2 << 5) | (0x13 >> 3));
    EXPECT_EQ(kk.palette, nullptr);
    EXPECT_EQ(kk.trueColor, 1);
    EXPECT_EQ(kk.pitch, 8);
    EXPECT_EQ(kk.data[6], 0xFF); // line padding of the new buffer
    ASSERT_TRUE(k.ConvertRGB(-1, -1, 16, 5, 6, 5, 11, 5, 0, XCONV_NO_COLORKEY));
    EXPECT_EQ(Px16(k, 1, 0), 0);

    // 24-bit to 5-5-5: pixels that narrow onto the key colour are kept apart.
    CBitmap c;
    ASSERT_TRUE(MakeBGR(c, 3, 1));
    const uint8_t px[9] = {0x10, 0x20, 0x30, 0x17, 0x27, 0x37, 0x40, 0x40, 0x40};
    std::memcpy(c.data, px, 9);
    ASSERT_TRUE(c.ConvertRGB(-1, -1, 16, 5, 5, 5, 10, 5, 0, 0));
    uint16_t key = (0x30 >> 3 << 10) | (0x20 >> 3 << 5) | (0x10 >> 3);
    EXPECT_EQ(Px16(c, 0, 0), key);
    EXPECT_EQ(Px16(c, 1, 0), key ^ 1);
    EXPECT_EQ(Px16(c, 2, 0), (8 << 10) | (8 << 5) | 8);

    // Same layout: nothing moves.
    uint8_t* before = c.data;
    c.bounds.Set(1, 1, 1, 1);
    ASSERT_TRUE(c.ConvertRGB(-1, -1, 16, 5, 5, 5, 10, 5, 0, 0));
    EXPECT_EQ(c.data, before);
    EXPECT_EQ(c.bounds.right, 2);
    EXPECT_FALSE(c.ConvertRGB(-1, -1, 12, 4, 4, 4, 8, 4, 0, 0));
}

// Our 24 -> 16 conversions agree byte for byte with SDL's on a noisy picture.
TEST_F(BitmapTest, ConversionsAgreeWithSdl)
{
    struct Case {
        uint32_t sdlFormat;
        int32_t rb, gb, bb, rs, gs, bs;
    } cases[] = {{SDL_PIXELFORMAT_RGB565, 5, 6, 5, 11, 5, 0}, {SDL_PIXELFORMAT_RGB555, 5, 5, 5, 10, 5, 0}};
    for (const auto& k : cases) {
        CBitmap b;
        ASSERT_TRUE(MakeBGR(b, 61, 17));
        g_seed = 4242;
        for (int y = 0; y < b.height; ++y)
            for (int x = 0; x < b.width * 3; ++x)
                b.data[y * b.pitch + x] = Next();
        SDL_Surface* s =
            SDL_CreateRGBSurfaceWithFormatFrom(b.data, b.width, b.height, 24, b.pitch, SDL_PIXELFORMAT_BGR24);
        ASSERT_NE(s, nullptr);
        SDL_Surface* t = SDL_ConvertSurfaceFormat(s, k.sdlFormat, 0);
        ASSERT_NE(t, nullptr);
        ASSERT_TRUE(b.ConvertRGB(-1, -1, 16, k.rb, k.gb, k.bb, k.rs, k.gs, k.bs, XCONV_NO_COLORKEY));
        for (int y = 0; y < b.height; ++y)
            ASSERT_EQ(std::memcmp(b.data + y * b.pitch, static_cast<uint8_t*>(t->pixels) + y * t->pitch,
                                  static_cast<size_t>(b.width) * 2),
                      0)
                << "line " << y;
        SDL_FreeSurface(t);
        SDL_FreeSurface(s);
    }
}

TEST_F(BitmapTest, GoldenHashes)
{
    // A deterministic 160 x 120 picture through each conversion and blit.
    CBitmap rgb;
    ASSERT_TRUE(MakeBGR(rgb, 160, 120));
    g_seed = 2024;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            uint8_t* p = rgb.data + y * rgb.pitch + x * 3;
            p[0] = static_cast<uint8_t>(x * 255 / 159);
            p[1] = static_cast<uint8_t>(y * 2 + (Next() & 7));
            p[2] = static_cast<uint8_t>((x ^ y) * 3);
        }
    CPalette pal;
    for (int i = 0; i < 256; ++i)
        pal.colors[i] = TRGBA(static_cast<uint8_t>((i & 7) * 36), static_cast<uint8_t>(((i >> 3) & 7) * 36),
                              static_cast<uint8_t>((i >> 6) * 85));
    CBitmap to565(rgb), to8(rgb), back;
    ASSERT_TRUE(to565.ConvertRGB(-1, -1, 16, 5, 6, 5, 11, 5, 0, 0));
    ASSERT_TRUE(to8.ConvertIndex(-1, -1, 8, &pal, 0));
    ASSERT_TRUE(back.CreateRGB(160, 120, 24, 8, 8, 8, 16, 8, 0, 0));
    back.Blt(&to8, 0, 0, 0, 0, -1, -1, XBLT_COLORKEY, 0, 0);
    back.Blt(&to565, 40, 30, 10, 10, 100, 50, XBLT_COLORKEY, 0, 0);
    EXPECT_EQ(Hash(rgb), 709042403u);
    EXPECT_EQ(Hash(to565), 3843394238u);
    EXPECT_EQ(Hash(to8), 2104757341u);
    EXPECT_EQ(Hash(back), 3537339265u);
}

int g_calls = 0;
void CountCall()
{
    ++g_calls;
}
void DiscardCall()
{
    ++g_calls;
    xDiscardColorMatch(); // as a screen palette change would
}

TEST_F(BitmapTest, LoadDataCallbackEvery32Lines)
{
    CBitmap src, dst;
    ASSERT_TRUE(MakeBGR(src, 8, 100));
    ASSERT_TRUE(Make565(dst, 8, 100));
    g_calls = 0;
    SetLoadDataCallback(CountCall);
    dst.Blt(&src, 0, 0, 0, 0, -1, -1, 0, 0, 0);
    EXPECT_EQ(g_calls, 3);

    // The colour-match table may be discarded by the callback mid-way.
    for (int i = 0; i < src.pitch * src.height; ++i)
        src.data[i] = static_cast<uint8_t>(i * 13);
    CPalette pal;
    CBitmap plain(src), called(src);
    SetLoadDataCallback(nullptr);
    ASSERT_TRUE(plain.ConvertIndex(-1, -1, 8, &pal, 0));
    SetLoadDataCallback(DiscardCall);
    g_calls = 0;
    ASSERT_TRUE(called.ConvertIndex(-1, -1, 8, &pal, 0));
    SetLoadDataCallback(nullptr);
    EXPECT_EQ(g_calls, 3);
    EXPECT_EQ(Hash(called), Hash(plain));
}

TEST_F(BitmapTest, LoadSaveWithoutPictureTypes)
{
    CBitmap b;
    EXPECT_FALSE(b.Load("picture.bmp", 0));
    EXPECT_EQ(glb->error.GetErrCode(), XERR_PICTURE_FORMAT);
    EXPECT_EQ(tvtest::LastError(), "Unknown/unsupported picture format");
    ASSERT_TRUE(b.CreateIndex(2, 2, 8, nullptr, 0));
    glb->error.Clear();
    EXPECT_FALSE(b.Save("shot.bmp", nullptr, nullptr, nullptr, XSAVE_NUMBERED));
    EXPECT_EQ(glb->error.GetErrCode(), XERR_PICTURE_FORMAT);
}

TEST_F(BitmapTest, NumberedNames)
{
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
    ASSERT_TRUE(xGetDateInfo(sec, min, hour, mday, mon, year, wday, yday, isdst));
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", year + 1900, mon + 1, mday);
    std::ofstream(std::string("shot") + date + "_01.bmp").put('x');
    char out[256];
    ASSERT_TRUE(xMakeNumberedName("shot.bmp", "bmp", out, sizeof out));
    EXPECT_EQ(std::string(out), std::string("shot") + date + "_02.bmp");
    ASSERT_TRUE(xMakeNumberedName("noext", "jpg", out, sizeof out)); // no "." : empty base
    EXPECT_EQ(std::string(out), std::string(date) + "_01.jpg");
    EXPECT_FALSE(xMakeNumberedName("shot.bmp", "bmp", out, 8)); // does not fit
}

} // namespace
