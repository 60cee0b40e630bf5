// Scaled blits: which source pixel each target pixel takes, every depth pair
// checked against one-pixel Blts (same conversion, same colour key), cutting
// at both bitmaps without shifting the picture, a scale within one bitmap,
// refused requests, and the persistent picture drawn scaled.
#include "screen_util.h"

#include "gfx/muldiv.h"

#include <tarvex/bitmap.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

namespace
{

class BltScaleTest : public tvtest::TarvexTest
{
};

#if defined(__SIZEOF_INT128__)
// The 32-bit targets' multiply-then-divide (halves and bit-by-bit
// division) against the 128-bit integer, over products past 64 bits, signs,
// and quotients at the ends of the range.
TEST(MulDiv, PortableFormMatchesTheWideInteger)
{
    const int64_t big = int64_t{1} << 33, top = INT64_MAX;
    const int64_t cases[][3] = {
        {1, 1, 1},           {7, 3, 2},           {-7, 3, 2},          {7, -3, 2},
        {7, 3, -2},          {0, big, 3},         {big + 1, big - 1, big}, {big * 3 + 5, (int64_t{1} << 32), 2 * big + 1},
        {top, 3, 4},         {top, top, top},     {-top, top, top},    {top / 3, 7, 7},
        {(int64_t{1} << 62), 4, 8},               {123456789012345, 987654321, 1000000007},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c[0]) + " * " + std::to_string(c[1]) + " / " + std::to_string(c[2]));
        __extension__ typedef __int128 Wide;
        const auto wide = static_cast<int64_t>((static_cast<Wide>(c[0]) * c[1]) / c[2]);
        EXPECT_EQ(tvgfx::MulDivPortable(c[0], c[1], c[2]), wide);
        EXPECT_EQ(tvgfx::MulDiv(c[0], c[1], c[2]), wide);
    }
}
#endif

// A bitmap of the given depth (16: 5-6-5; 24: the Windows byte order).
bool Make(CBitmap& b, int32_t bits, int32_t w, int32_t h, CPalette* pal = nullptr)
{
    if (bits == 8)
        return b.CreateIndex(w, h, 8, pal, 0) == TRUE;
    if (bits == 16)
        return b.CreateRGB(w, h, 16, 5, 6, 5, 11, 5, 0, 0) == TRUE;
    if (bits == 32)
        return b.CreateRGBA(w, h, 32, 8, 8, 8, 8, 16, 8, 0, 24, 0) == TRUE;
    return b.CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0) == TRUE;
}

void Fill(CBitmap& b, uint8_t v) { std::memset(b.data, v, static_cast<size_t>(b.pitch) * b.height); }

// Distinct bytes everywhere, so a wrong source pixel shows.
void Pattern(CBitmap& b)
{
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t i = 0; i < b.width * b.bytesPerPixel; ++i)
            b.data[y * b.pitch + i] = static_cast<uint8_t>(17 + i * 29 + y * 71);
}

::testing::AssertionResult SameBytes(const CBitmap& a, const CBitmap& b)
{
    for (int32_t y = 0; y < a.height; ++y)
        for (int32_t x = 0; x < a.width; ++x)
            if (std::memcmp(a.data + y * a.pitch + x * a.bytesPerPixel,
                            b.data + y * b.pitch + x * b.bytesPerPixel,
                            static_cast<size_t>(a.bytesPerPixel)) != 0)
                return ::testing::AssertionFailure() << "first difference at " << x << "," << y;
    return ::testing::AssertionSuccess();
}

// The source columns one line of an 8-bit target takes.
std::vector<int32_t> Columns(int32_t srcW, CRect s, CRect d, int32_t dstW)
{
    CBitmap from, to;
    from.CreateIndex(srcW, 1, 8, nullptr, 0);
    to.CreateIndex(dstW, 1, 8, nullptr, 0);
    for (int32_t x = 0; x < srcW; ++x)
        from.data[x] = static_cast<uint8_t>(x);
    Fill(to, 0xEE);
    EXPECT_TRUE(to.BltScale(&from, &s, &d, 0));
    std::vector<int32_t> out;
    for (int32_t x = 0; x < dstW; ++x)
        out.push_back(to.data[x] == 0xEE ? -1 : to.data[x]);
    return out;
}

// Each target pixel takes the source pixel under its centre; the mapping
// comes from the rectangles as given, cut pixels are simply left (-1).
TEST_F(BltScaleTest, NearestSourcePixelAndCutting)
{
    struct Case {
        const char* name;
        int32_t srcW;
        CRect s, d;
        int32_t dstW;
        std::vector<int32_t> want;
    } cases[] = {
        {"one to one", 4, {0, 0, 3, 0}, {0, 0, 3, 0}, 4, {0, 1, 2, 3}},
        {"doubled", 4, {0, 0, 3, 0}, {0, 0, 7, 0}, 8, {0, 0, 1, 1, 2, 2, 3, 3}},
        {"halved takes every second from the second", 4, {0, 0, 3, 0}, {0, 0, 1, 0}, 2, {1, 3}},
        {"three to five", 3, {0, 0, 2, 0}, {0, 0, 4, 0}, 5, {0, 0, 1, 2, 2}},
        {"five to three", 5, {0, 0, 4, 0}, {0, 0, 2, 0}, 3, {0, 2, 4}},
        {"one pixel spread", 1, {0, 0, 0, 0}, {1, 0, 3, 0}, 5, {-1, 0, 0, 0, -1}},
        {"part of the source", 6, {2, 0, 3, 0}, {0, 0, 3, 0}, 4, {2, 2, 3, 3}},
        {"source running off both sides", 4, {-2, 0, 5, 0}, {0, 0, 7, 0}, 8, {-1, -1, 0, 1, 2, 3, -1, -1}},
        {"source off and doubled", 4, {-1, 0, 2, 0}, {0, 0, 7, 0}, 8, {-1, -1, 0, 0, 1, 1, 2, 2}},
        {"target starting left of the bitmap", 8, {0, 0, 7, 0}, {-4, 0, 3, 0}, 4, {4, 5, 6, 7}},
        {"target running off the right", 4, {0, 0, 3, 0}, {2, 0, 9, 0}, 5, {-1, -1, 0, 0, 1}},
        {"entirely beside the target", 4, {0, 0, 3, 0}, {10, 0, 13, 0}, 4, {-1, -1, -1, -1}},
        {"entirely beside the source", 4, {8, 0, 11, 0}, {0, 0, 3, 0}, 4, {-1, -1, -1, -1}},
        {"both spanning the whole coordinate range",
         4,
         {INT32_MIN, 0, INT32_MAX, 0},
         {INT32_MIN, 0, INT32_MAX, 0},
         4,
         {0, 1, 2, 3}},
        {"the whole range squeezed onto four pixels",
         4,
         {INT32_MIN, 0, INT32_MAX, 0},
         {0, 0, 3, 0},
         4,
         {-1, -1, -1, -1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Columns(c.srcW, c.s, c.d, c.dstW), c.want) << c.name;
}

// Lines follow the same rule as columns, and the bitmap's bounds (not only
// its size) limit what is read.
TEST_F(BltScaleTest, LinesAndBounds)
{
    CBitmap from, to;
    ASSERT_TRUE(from.CreateIndex(2, 3, 8, nullptr, 0));
    ASSERT_TRUE(to.CreateIndex(2, 6, 8, nullptr, 0));
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 2; ++x)
            from.data[y * from.pitch + x] = static_cast<uint8_t>(10 * y + x);
    from.bounds.Set(0, 0, 1, 1); // the third line is not the bitmap's to give
    Fill(to, 0xEE);
    CRect s(0, 0, 1, 2), d(0, 0, 1, 5);
    ASSERT_TRUE(to.BltScale(&from, &s, &d, 0));
    const uint8_t want[6][2] = {{0, 1}, {0, 1}, {10, 11}, {10, 11}, {0xEE, 0xEE}, {0xEE, 0xEE}};
    for (int32_t y = 0; y < 6; ++y)
        for (int32_t x = 0; x < 2; ++x)
            EXPECT_EQ(to.data[y * to.pitch + x], want[y][x]) << x << "," << y;
}

// Every depth pair: a 2.5 x 1.5 enlargement that runs off the target equals
// one-pixel Blts of the chosen source pixels, with and without the key
// (the source's top-left pixel). Targets of 8 bits take 8-bit sources only.
TEST_F(BltScaleTest, EachDepthPairMatchesPixelBlts)
{
    CPalette pal;
    for (int32_t i = 0; i < 256; ++i)
        pal.colors[i] =
            TRGBA(static_cast<uint8_t>(i * 7), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 3));
    for (int32_t sbits : {8, 16, 24, 32}) {
        CBitmap from;
        ASSERT_TRUE(Make(from, sbits, 6, 4, &pal));
        Pattern(from);
        // Key pixels inside the picture: the top-left pixel's value again.
        for (auto [x, y] : {std::pair{3, 1}, std::pair{4, 2}, std::pair{1, 3}})
            std::memcpy(from.data + y * from.pitch + x * from.bytesPerPixel, from.data,
                        static_cast<size_t>(from.bytesPerPixel));
        for (int32_t dbits : {8, 16, 24, 32}) {
            for (int32_t key : {0, static_cast<int32_t>(XBLT_COLORKEY)}) {
                const std::string what =
                    std::to_string(dbits) + "<-" + std::to_string(sbits) + (key ? " keyed" : "");
                CBitmap got, want;
                ASSERT_TRUE(Make(got, dbits, 16, 7, &pal));
                ASSERT_TRUE(Make(want, dbits, 16, 7, &pal));
                Fill(got, 0xA5);
                Fill(want, 0xA5);
                CRect s(0, 0, 5, 3), d(2, 1, 16, 6); // 15 x 6 from 6 x 4, one column off the edge
                const bool pairs = dbits == sbits || (dbits != 8 && dbits != 32 && sbits != 32);
                EXPECT_EQ(got.BltScale(&from, &s, &d, key), pairs ? TRUE : FALSE) << what;
                if (pairs)
                    for (int32_t y = 1; y <= 6; ++y)
                        for (int32_t x = 2; x < 16; ++x) {
                            const int32_t sx = ((2 * (x - 2) + 1) * 6) / 30,
                                          sy = ((2 * (y - 1) + 1) * 4) / 12;
                            if (dbits == 32)
                                std::memcpy(want.data + y * want.pitch + x * 4,
                                            from.data + sy * from.pitch + sx * 4,
                                            (key && std::memcmp(from.data + sy * from.pitch + sx * 4,
                                                                from.data, 4) == 0)
                                                ? 0
                                                : 4);
                            else
                                want.Blt(&from, sx, sy, x, y, 1, 1, key, 0, 0);
                        }
                EXPECT_TRUE(SameBytes(got, want)) << what;
            }
        }
    }
}

// A bitmap scaled onto itself reads the picture as it was before.
TEST_F(BltScaleTest, WithinOneBitmap)
{
    CBitmap b, before;
    ASSERT_TRUE(Make(b, 16, 8, 4));
    ASSERT_TRUE(Make(before, 16, 8, 4));
    Pattern(b);
    std::memcpy(before.data, b.data, static_cast<size_t>(b.pitch) * b.height);
    CRect left(0, 0, 3, 3), all(0, 0, 7, 3);
    ASSERT_TRUE(b.BltScale(&b, &left, &all, 0));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 8; ++x)
            EXPECT_EQ(
                std::memcmp(b.data + y * b.pitch + x * 2, before.data + y * before.pitch + (x / 2) * 2, 2), 0)
                << x << "," << y;
}

// What cannot be scaled is refused and copies nothing; no rectangle means
// the whole bitmap.
TEST_F(BltScaleTest, RefusedRequestsAndWholeBitmaps)
{
    CBitmap from, to, empty;
    ASSERT_TRUE(Make(from, 8, 2, 2));
    ASSERT_TRUE(Make(to, 8, 4, 4));
    Pattern(from);
    CRect reversed(3, 0, 0, 1), ok(0, 0, 1, 1);
    struct Case {
        const char* name;
        CBitmapBase* source;
        CRect *s, *d;
    } refused[] = {
        {"no source", nullptr, &ok, &ok},
        {"source without pixels", &empty, &ok, &ok},
        {"reversed source rectangle", &from, &reversed, &ok},
        {"reversed target rectangle", &from, &ok, &reversed},
    };
    for (const auto& c : refused) {
        Fill(to, 0xEE);
        to.changed = 0;
        EXPECT_FALSE(to.BltScale(c.source, c.s, c.d, 0)) << c.name;
        for (int32_t i = 0; i < 4 * to.pitch; ++i)
            ASSERT_EQ(to.data[i], 0xEE) << c.name;
    }
    Fill(to, 0xEE);
    ASSERT_TRUE(to.BltScale(&from, nullptr, nullptr, 0));
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x)
            EXPECT_EQ(to.data[y * to.pitch + x], from.data[(y / 2) * from.pitch + x / 2]) << x << "," << y;
    EXPECT_EQ(to.changed, 1);
}

class PersistentScaleTest : public tvtest::ScreenTest
{
};

// Drawn scaled into the persistent picture, the picture reaches the screen
// at the next clear step; a refused scale reports failure and marks nothing.
TEST_F(PersistentScaleTest, ReachesTheScreenThroughThePersistentPicture)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* s = Screen();
    ASSERT_TRUE(s->SetPersistentMode(1));
    CBitmap pic;
    ASSERT_TRUE(Make(pic, 24, 2, 2));
    const TRGBA colors[4] = {TRGBA(250, 0, 0), TRGBA(0, 250, 0), TRGBA(0, 0, 250), TRGBA(250, 250, 0)};
    for (int32_t i = 0; i < 4; ++i)
        pic.PutPixel(i % 2, i / 2, &colors[i]);
    CRect src(0, 0, 1, 1), dst(100, 50, 139, 89); // 20 times
    ASSERT_TRUE(s->DrawBitmapPersistentScale(&pic, &src, &dst, 0));
    ASSERT_TRUE(s->ClearBuffer());
    CBitmap* shown = s->GetScreenBitmap();
    ASSERT_NE(shown, nullptr);
    for (auto [x, y, c] : {std::tuple{100, 50, 0}, std::tuple{119, 69, 0}, std::tuple{120, 50, 1},
                           std::tuple{139, 69, 1}, std::tuple{100, 70, 2}, std::tuple{139, 89, 3}}) {
        const TRGBA got = tvtest::PixelColor(*shown, nullptr, x, y);
        EXPECT_EQ(std::vector<int>({got.r, got.g, got.b}),
                  std::vector<int>({colors[c].r, colors[c].g, colors[c].b}))
            << x << "," << y;
    }
    const TRGBA outside = tvtest::PixelColor(*shown, nullptr, 140, 90);
    EXPECT_EQ(std::vector<int>({outside.r, outside.g, outside.b}), std::vector<int>({0, 0, 0}));

    CRect reversed(1, 1, 0, 0);
    const int32_t areas = s->persistentCount[s->page];
    EXPECT_FALSE(s->DrawBitmapPersistentScale(&pic, &reversed, &dst, 0));
    EXPECT_EQ(s->persistentCount[s->page], areas);
    ASSERT_TRUE(s->ExitMode());
}

} // namespace
