// The software polygon rasteriser: a solid quad against FillRect, both
// windings and triangles given as quads, one-pixel spans, edges far beyond
// 32-bit products, texture coordinates outside the texture, the filtered
// path, darkening by the alpha buffer, and shadows in every depth (also into
// bitmaps of their own size), with golden hashes of textured quads.
#include "screen_util.h"

#include <set>
#include <vector>

namespace
{

using tvtest::MatchesGolden;
using tvtest::PixelColor;
using tvtest::PixelHash;

class RasterTest : public tvtest::ScreenTest
{
  protected:
    // A texture in the screen's format: solid, or a gradient with distinct texels.
    void MakeTexture(CBitmap& t, int32_t w, int32_t h, bool solid, TRGBA color = TRGBA(200, 100, 48))
    {
        ASSERT_TRUE(t.CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0));
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                TRGBA c = solid ? color : TRGBA(x * 255 / w, y * 255 / h, (x + y) * 4);
                t.PutPixel(x, y, &c);
            }
        ASSERT_TRUE(Screen()->MakeScreenBitmap(&t, XCONV_NO_COLORKEY));
    }
    void Clear(TRGBA c = TRGBA(0, 0, 0))
    {
        Screen()->SetClip(0, 0, Screen()->GetActiveMode()->width - 1, Screen()->GetActiveMode()->height - 1);
        Screen()->FillRect(0, 0, 4096, 4096, c);
    }
    // The quad with texture corners in order: (0,0), (w,0), (w,h), (0,h) texels.
    void Quad(const int32_t (&xy)[8], const CBitmap& t)
    {
        CDibScreen* s = Screen();
        s->SetPolygon(xy[0], xy[1], 0, xy[2], xy[3], 0, xy[4], xy[5], 0, xy[6], xy[7], 0);
        const int32_t u = (t.width - 1) << 16, v = (t.height - 1) << 16;
        s->SetTextureCoords(0, 0, u, 0, u, v, 0, v);
    }
    int32_t Draw(CRect* drawn = nullptr)
    {
        CRect r, *out = drawn != nullptr ? drawn : &r;
        return Screen()->DrawPolygonScreen(out);
    }
    uint32_t Hash() { return PixelHash(*Screen()->GetScreenBitmap()); }
    int32_t CountNot(TRGBA background)
    {
        CBitmap* b = Screen()->GetScreenBitmap();
        int32_t n = 0;
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x)
                n += PixelColor(*b, &Screen()->palette, x, y) != background;
        return n;
    }
};

TEST_F(RasterTest, SolidQuadEqualsFillRect)
{
    // Pixel rectangles (inclusive) and clips, some cutting the quad.
    const CRect rects[] = {{10, 10, 19, 19},     {0, 0, 639, 479}, {-30, 100, 50, 120},
                           {600, 400, 700, 500}, {5, 7, 5, 7},     {300, 10, 300, 90}};
    const CRect clips[] = {{0, 0, 639, 479}, {12, 12, 400, 300}};
    for (int32_t bits : {8, 16, 24}) {
        ASSERT_TRUE(Open(640, 480, bits));
        // A grey every depth holds exactly (the 8-bit screen has the grey ramp).
        const TRGBA grey(200, 200, 200);
        CBitmap t;
        MakeTexture(t, 8, 8, true, grey);
        Screen()->SetTexture(&t);
        for (const CRect& c : clips)
            for (const CRect& r : rects) {
                SCOPED_TRACE(std::to_string(bits) + ": " + std::to_string(r.left) + "," +
                             std::to_string(r.top) + " clip " + std::to_string(c.left));
                Clear();
                Screen()->SetClip(c.left, c.top, c.right, c.bottom);
                Quad({2 * r.left, 2 * r.top, 2 * r.right, 2 * r.top, 2 * r.right, 2 * r.bottom, 2 * r.left,
                      2 * r.bottom},
                     t);
                CRect hit;
                Draw(&hit);
                const uint32_t polygon = Hash();
                Clear();
                Screen()->SetClip(c.left, c.top, c.right, c.bottom);
                Screen()->FillRect(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1, grey);
                EXPECT_EQ(polygon, Hash());
                CRect want;
                if (want.Intersect(r, c)) {
                    EXPECT_TRUE(hit.IsEqual(&want));
                }
            }
    }
}

TEST_F(RasterTest, WindingsAndTriangles)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* s = Screen();
    CBitmap t;
    MakeTexture(t, 32, 32, false);
    s->SetTexture(&t);
    struct V {
        int32_t x, y, u, v;
    };
    auto draw = [&](const V(&v)[4]) {
        Clear();
        s->SetPolygon(v[0].x, v[0].y, 0, v[1].x, v[1].y, 0, v[2].x, v[2].y, 0, v[3].x, v[3].y, 0);
        s->SetTextureCoords(v[0].u, v[0].v, v[1].u, v[1].v, v[2].u, v[2].v, v[3].u, v[3].v);
        EXPECT_TRUE(Draw());
        return Hash();
    };
    const V a{100, 60, 0, 0}, b{700, 140, 31 << 16, 0}, c{620, 820, 31 << 16, 31 << 16},
        d{60, 700, 0, 31 << 16};
    // A quad: either winding, any starting vertex.
    const uint32_t quad = draw({a, b, c, d});
    EXPECT_EQ(draw({d, c, b, a}), quad);
    EXPECT_EQ(draw({c, d, a, b}), quad);
    EXPECT_EQ(draw({b, a, d, c}), quad);
    // A triangle as a quad with one vertex repeated, both windings.
    const uint32_t tri = draw({a, b, c, c});
    EXPECT_EQ(draw({a, c, c, b}), tri);
    EXPECT_EQ(draw({c, b, a, a}), tri);
    EXPECT_NE(tri, quad);
    // Drawing twice draws the same polygon: the stored one is not changed.
    Clear();
    s->SetPolygon(a.x, a.y, 0, b.x, b.y, 0, c.x, c.y, 0, d.x, d.y, 0);
    s->SetTextureCoords(a.u, a.v, b.u, b.v, c.u, c.v, d.u, d.v);
    CRect first, second;
    EXPECT_TRUE(Draw(&first));
    EXPECT_TRUE(Draw(&second));
    EXPECT_TRUE(first.IsEqual(&second));
    EXPECT_EQ(s->polygon[1].x, b.x);
    EXPECT_EQ(Hash(), quad);
}

TEST_F(RasterTest, ThinAndFarPolygons)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    CBitmap t;
    MakeTexture(t, 4, 4, true, TRGBA(255, 255, 255));
    s->SetTexture(&t);
    struct Case {
        int32_t xy[8];
        int32_t lit; // pixels drawn, -1: the whole screen
    };
    const Case cases[] = {
        {{100, 100, 100, 100, 100, 100, 100, 100}, 1},   // a point: one one-pixel span
        {{100, 100, 101, 100, 101, 101, 100, 101}, 1},   // within one pixel
        {{100, 100, 100, 100, 100, 140, 100, 140}, 21},  // a vertical line of one-pixel spans
        {{100, 100, 160, 100, 160, 100, 100, 100}, 31},  // a horizontal line: flat edges only
        {{100, 100, 300, 101, 300, 101, 100, 100}, 101}, // a sliver
        {{-2000000000, -2000000000, 2000000000, -2000000000, 2000000000, 2000000000, -2000000000, 2000000000},
         -1}, // far beyond the screen: 64-bit edges
        {{2147483647, 2147483647, -2147483647, 2147483647, -2147483647, -2147483647, 2147483647, -2147483647},
         -1},
        {{-4000, 0, -2000, 0, -2000, 100, -4000, 100}, 0}, // wholly off the screen
        {{0, 5000, 200, 5000, 200, 6000, 0, 6000}, 0},     // below the scan tables
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.xy[0]) + "," + std::to_string(c.xy[1]));
        Clear();
        Quad(c.xy, t);
        Draw();
        EXPECT_EQ(CountNot(TRGBA(0, 0, 0)), c.lit == -1 ? 640 * 480 : c.lit);
    }
}

TEST_F(RasterTest, TextureCoordinatesOutsideTheTexture)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* s = Screen();
    CBitmap t;
    MakeTexture(t, 4, 3, false);
    s->SetTexture(&t);
    std::set<uint32_t> texels;
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 4; ++x) {
            TRGBA c = PixelColor(t, nullptr, x, y);
            texels.insert(c.r | (c.g << 8) | (c.b << 16));
        }
    // Coordinates far outside, negative and beyond: every pixel is a texel
    // of the texture, the corners the corner texels.
    Clear();
    s->SetPolygon(200, 200, 0, 400, 200, 0, 400, 400, 0, 200, 400, 0);
    s->SetTextureCoords(-50 << 16, -7 << 16, 900 << 16, -7 << 16, 900 << 16, 30000 << 16, -50 << 16,
                        30000 << 16);
    EXPECT_TRUE(Draw());
    CBitmap* b = s->GetScreenBitmap();
    for (int32_t y = 100; y <= 200; ++y)
        for (int32_t x = 100; x <= 200; ++x) {
            TRGBA c = PixelColor(*b, nullptr, x, y);
            ASSERT_TRUE(texels.count(c.r | (c.g << 8) | (c.b << 16))) << x << "," << y;
        }
    EXPECT_EQ(PixelColor(*b, nullptr, 100, 100), PixelColor(t, nullptr, 0, 0));
    EXPECT_EQ(PixelColor(*b, nullptr, 200, 200), PixelColor(t, nullptr, 3, 2));
    // A texture of another depth is refused, not read with the wrong stride.
    CBitmap other;
    ASSERT_TRUE(other.CreateRGB(4, 4, 16, 5, 5, 5, 10, 5, 0, 0));
    s->SetTexture(&other);
    EXPECT_FALSE(Draw());
    s->SetTexture(nullptr);
    EXPECT_FALSE(Draw());
}

TEST_F(RasterTest, FilteredPath)
{
    for (int32_t bits : {16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        CBitmap t;
        MakeTexture(t, 8, 8, true, TRGBA(248, 248, 248));
        s->SetTexture(&t);
        s->SetPolygonMode(0, 1);
        Clear();
        // Corners on odd half pixels: the edge blocks are half covered.
        Quad({101, 101, 301, 101, 301, 201, 101, 201}, t);
        CRect drawn;
        ASSERT_TRUE(Draw(&drawn));
        CBitmap* b = s->GetScreenBitmap();
        EXPECT_EQ(PixelColor(*b, nullptr, 100, 75), TRGBA(248, 248, 248, 0)) << "inside";
        EXPECT_EQ(PixelColor(*b, nullptr, 200, 75), TRGBA(0, 0, 0, 0)) << "outside";
        const TRGBA edge = PixelColor(*b, nullptr, 50, 75);
        EXPECT_GT(edge.r, 0);
        EXPECT_LT(edge.r, 248);
        const TRGBA corner = PixelColor(*b, nullptr, 50, 50);
        EXPECT_GT(corner.r, 0);
        EXPECT_LT(corner.r, edge.r);
        const CRect want(50, 50, 150, 100);
        EXPECT_TRUE(drawn.IsEqual(&want));
    }
}

TEST_F(RasterTest, AlphaBuffer)
{
    for (int32_t bits : {16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        ASSERT_TRUE(s->SetAlphaBufferMode(1));
        // Alpha 255 on the left half, 128 in the middle, 0 on the right.
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x)
                s->alphaBuffer->data[y * s->alphaBuffer->pitch + x] = x < 200 ? 255 : (x < 400 ? 128 : 0);
        CBitmap t;
        MakeTexture(t, 8, 8, true);
        s->SetTexture(&t);
        for (int32_t filter : {0, 1}) {
            s->SetPolygonMode(0, filter);
            Clear();
            Quad({0, 0, 1278, 0, 1278, 100, 0, 100}, t);
            ASSERT_TRUE(Draw());
            CBitmap* b = s->GetScreenBitmap();
            const TRGBA left = PixelColor(*b, nullptr, 10, 20), mid = PixelColor(*b, nullptr, 300, 20),
                        right = PixelColor(*b, nullptr, 500, 20);
            if (bits == 16) {
                EXPECT_EQ(left, TRGBA(200 & 0xF8, 100 & 0xF8, 48, 0));
                const int32_t k = 31 - 128 / 8;
                EXPECT_EQ(mid, TRGBA(((200 >> 3) - k) << 3, 0, 0, 0));
                EXPECT_EQ(right, TRGBA(0, 0, 0, 0));
            } else {
                EXPECT_EQ(left, TRGBA(199, 99, 47, 0));
                EXPECT_EQ(mid, TRGBA(200 + 128 - 256, 0, 0, 0));
                EXPECT_EQ(right, TRGBA(0, 0, 0, 0));
            }
        }
    }
}

TEST_F(RasterTest, Shadows)
{
    const TRGBA ground(200, 100, 48);
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        Clear(ground);
        const TRGBA before = PixelColor(*s->GetScreenBitmap(), &s->palette, 0, 0);
        s->SetPolygon(20, 20, 0, 220, 20, 0, 220, 120, 0, 20, 120, 0);
        CRect drawn, *out = &drawn;
        ASSERT_TRUE(s->DrawShadowPolygonScreen(out));
        const CRect want(10, 10, 110, 60);
        EXPECT_TRUE(drawn.IsEqual(&want));
        CBitmap* b = s->GetScreenBitmap();
        const TRGBA even = PixelColor(*b, &s->palette, 20, 20), odd = PixelColor(*b, &s->palette, 21, 20);
        EXPECT_EQ(PixelColor(*b, &s->palette, 9, 20), before) << "outside";
        if (bits == 8) {
            EXPECT_EQ(even, s->palette.colors[0]) << "black on even pixels";
            EXPECT_EQ(odd, before);
        } else if (bits == 16) {
            EXPECT_EQ(even, TRGBA((25 - 7) << 3, (12 - 7) << 3, 0, 0));
            EXPECT_EQ(odd, even);
        } else {
            EXPECT_EQ(even, TRGBA(200 - 56, 100 - 56, 0, 0));
        }
        // Into a bitmap of its own size: cut to it, whatever the polygon.
        CBitmap small;
        ASSERT_TRUE(small.CreateRGB(21, 9, 24, 8, 8, 8, 0, 8, 16, 0));
        ASSERT_TRUE(s->MakeScreenBitmap(&small, XCONV_NO_COLORKEY));
        s->SetPolygon(-400, -400, 0, 1200, -400, 0, 1200, 900, 0, -400, 900, 0);
        EXPECT_TRUE(s->DrawShadowPolygonBitmap(&small, out));
        const CRect all(0, 0, 20, 8);
        EXPECT_TRUE(drawn.IsEqual(&all));
        // And into the persistent picture, registered as persistent areas.
        ASSERT_TRUE(s->SetPersistentMode(1));
        s->persistentCount[0] = 0;
        s->SetPolygon(0, 0, 0, 40, 0, 0, 40, 40, 0, 0, 40, 0);
        EXPECT_TRUE(s->DrawShadowPolygonPersistent(out));
        EXPECT_EQ(s->persistentCount[0], 1);
        s->SetPersistentMode(0);
        s->SetPersistent(0);
    }
}

TEST_F(RasterTest, GoldenTexturedQuads)
{
    struct Case {
        int32_t bits;
        int32_t filter;
        uint32_t golden;
    };
    const Case cases[] = {{8, 0, 4254484558u},
                          {16, 0, 148802445u},
                          {16, 1, 3083801373u},
                          {24, 0, 443602581u},
                          {24, 1, 2249094270u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " filter " + std::to_string(c.filter));
        ASSERT_TRUE(Open(640, 480, c.bits));
        CDibScreen* s = Screen();
        CBitmap t;
        MakeTexture(t, 64, 48, false);
        s->SetTexture(&t);
        s->SetPolygonMode(0, c.filter);
        Clear(TRGBA(30, 30, 60));
        s->SetClip(40, 30, 599, 449);
        s->SetPolygon(300, 20, 0, 1180, 300, 0, 900, 1000, 0, 60, 700, 0);
        s->SetTextureCoords(0, 0, 63 << 16, 0, 63 << 16, 47 << 16, 0, 47 << 16);
        ASSERT_TRUE(Draw());
        // Into the persistent picture and into a bitmap too.
        ASSERT_TRUE(s->SetPersistentMode(1));
        CRect bounds, *out = &bounds;
        s->SetPolygon(10, 10, 0, 200, 30, 0, 180, 200, 0, 20, 180, 0);
        ASSERT_TRUE(s->DrawPolygonPersistent(out));
        EXPECT_TRUE(s->persistent->changed);
        EXPECT_TRUE(MatchesGolden("quad" + std::to_string(c.bits) + "_" + std::to_string(c.filter),
                                  *s->GetScreenBitmap(), &s->palette, c.golden));
        s->SetPersistentMode(0);
        s->SetPersistent(0);
    }
}

} // namespace
