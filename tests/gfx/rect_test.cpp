// Rectangles and the blit clipping rule.
#include <gtest/gtest.h>
#include <tarvex/rect.h>

namespace
{

void ExpectRect(const CRect& r, int32_t l, int32_t t, int32_t rr, int32_t b)
{
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

TEST(Rect, BasicOperations)
{
    CRect r;
    EXPECT_TRUE(r.IsNull());
    EXPECT_TRUE(r.IsEmpty());
    r.SetXYWH(10, 20, 5, 4);
    ExpectRect(r, 10, 20, 14, 23);
    EXPECT_EQ(r.Width(), 4);
    EXPECT_EQ(r.Height(), 3);
    EXPECT_FALSE(r.IsEmpty());
    EXPECT_TRUE(r.IsPntInRect(10, 20));
    EXPECT_TRUE(r.IsPntInRect(14, 23));
    EXPECT_FALSE(r.IsPntInRect(15, 23));
    EXPECT_FALSE(r.IsPntInRect(10, 19));

    CRect rev(9, 8, 1, 2); // reversed corners: widths are distances
    EXPECT_EQ(rev.Width(), 8);
    EXPECT_EQ(rev.Height(), 6);
    rev.Normalize();
    ExpectRect(rev, 1, 2, 9, 8);
    rev.Inflate(2, 1);
    ExpectRect(rev, -1, 1, 11, 9);
    rev.Move(-3, 4);
    ExpectRect(rev, -4, 5, 8, 13);
    CRect copy;
    copy.Copy(&rev);
    EXPECT_TRUE(copy.IsEqual(&rev));
    copy.SetEmpty();
    EXPECT_TRUE(copy.IsNull());
    EXPECT_TRUE(CRect(3, 3, 3, 3).IsEmpty()); // one pixel counts as "empty"
    EXPECT_FALSE(CRect(3, 3, 3, 3).IsNull());
}

TEST(Rect, IntersectAndUnion)
{
    struct Case {
        CRect a, b;
        bool meets;
        CRect want;
    } cases[] = {
        {{0, 0, 9, 9}, {9, 9, 20, 20}, true, {9, 9, 9, 9}}, // shared corner pixel
        {{0, 0, 9, 9}, {10, 0, 20, 9}, false, {}},          // adjacent, no overlap
        {{0, 0, 9, 9}, {0, 10, 9, 20}, false, {}},
        {{0, 0, 9, 9}, {9, 0, 20, 9}, true, {9, 0, 9, 9}}, // one shared column
        {{0, 0, 100, 100}, {10, 20, 30, 40}, true, {10, 20, 30, 40}},
        {{9, 9, 0, 0}, {20, 20, 5, 5}, true, {5, 5, 9, 9}}, // reversed inputs are normalised
        {{-5, -5, -1, -1}, {0, 0, 5, 5}, false, {}},
    };
    for (const auto& c : cases) {
        CRect r(77, 77, 77, 77);
        EXPECT_EQ(r.Intersect(c.a, c.b), c.meets ? TRUE : FALSE);
        if (c.meets)
            EXPECT_TRUE(r.IsEqual(&c.want)) << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        else
            ExpectRect(r, 77, 77, 77, 77);
    }
    CRect a(5, 5, 1, 1), u;
    u.Union(a, CRect(10, -3, 12, 0));
    ExpectRect(u, 1, -3, 12, 5);
    EXPECT_EQ(a.left, 5); // arguments are taken by value
}

TEST(Rect, ClipBlit)
{
    const CRect src(0, 0, 99, 49), clip(10, 10, 59, 39);
    struct Case {
        int32_t sx, sy, w, h, dx, dy;
        bool visible;
        int32_t wsx, wsy, ww, wh, wdx, wdy;
    } cases[] = {
        {0, 0, 10, 10, 20, 20, true, 0, 0, 10, 10, 20, 20}, // inside
        {-3, 0, 10, 10, 20, 20, true, 0, 0, 7, 10, 23, 20}, // 3 left of the source: dest moves right
        {0, -4, 10, 10, 20, 20, true, 0, 0, 10, 6, 20, 24},
        {95, 45, 10, 10, 20, 20, true, 95, 45, 5, 5, 20, 20}, // source right/bottom ends
        {0, 0, 10, 10, 5, 8, true, 5, 2, 5, 8, 10, 10},       // dest left/above the clip moves the source
        {0, 0, 10, 10, 55, 35, true, 0, 0, 5, 5, 55, 35},     // dest right/bottom ends
        {0, 0, 10, 10, 59, 39, true, 0, 0, 1, 1, 59, 39},     // one pixel on the clip corner
        {0, 0, 10, 10, 60, 20, false, 0, 0, 0, 0, 0, 0},      // wholly right of the clip
        {0, 0, 10, 10, 0, 0, false, 0, 0, 0, 0, 0, 0},        // wholly above-left
        {100, 0, 10, 10, 20, 20, false, 0, 0, 0, 0, 0, 0},    // outside the source
        {-10, 0, 10, 10, 20, 20, false, 0, 0, 0, 0, 0, 0},
        {0, 0, 0, 10, 20, 20, false, 0, 0, 0, 0, 0, 0}, // nothing to copy
        {0, 0, 10, -1, 20, 20, false, 0, 0, 0, 0, 0, 0},
        {-3, 0, 10, 10, 5, 20, true, 2, 0, 5, 10, 10, 20}, // clipped by both
    };
    for (const auto& c : cases) {
        int32_t sx = c.sx, sy = c.sy, w = c.w, h = c.h, dx = c.dx, dy = c.dy;
        EXPECT_EQ(xClipBlit(sx, sy, w, h, dx, dy, src, clip), c.visible ? TRUE : FALSE)
            << c.sx << "," << c.sy << " " << c.w << "x" << c.h << " -> " << c.dx << "," << c.dy;
        if (c.visible) {
            EXPECT_EQ(sx, c.wsx);
            EXPECT_EQ(sy, c.wsy);
            EXPECT_EQ(w, c.ww);
            EXPECT_EQ(h, c.wh);
            EXPECT_EQ(dx, c.wdx);
            EXPECT_EQ(dy, c.wdy);
        } else { // the caller's values stay as they were
            EXPECT_EQ(sx, c.sx);
            EXPECT_EQ(w, c.w);
            EXPECT_EQ(dx, c.dx);
        }
    }
    // Spans near the integer limits do not overflow.
    int32_t sx = INT32_MAX - 5, sy = 0, w = 100, h = 1, dx = 0, dy = 0;
    EXPECT_FALSE(xClipBlit(sx, sy, w, h, dx, dy, src, CRect(0, 0, 99, 49)));
}

} // namespace
