// The screen base on the windowed screen: the line clipper, the clip and its
// stack with the empty clip, the area lists with their merge and overflow
// rules, primitives crossing every clip edge and corner, darkening, and the
// persistent and background pictures across mode changes.
#include "screen_util.h"

#include <vector>

namespace
{

using tvtest::PixelColor;

class ScreenBaseTest : public tvtest::ScreenTest
{
  protected:
    // Colour of every pixel of the screen buffer.
    std::vector<TRGBA> Pixels()
    {
        CBitmap* b = Screen()->GetScreenBitmap();
        std::vector<TRGBA> out;
        for (int32_t y = 0; y < b->height; ++y)
            for (int32_t x = 0; x < b->width; ++x)
                out.push_back(PixelColor(*b, &Screen()->palette, x, y));
        return out;
    }
};

TEST_F(ScreenBaseTest, ClipLine)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    ASSERT_TRUE(s->SetClip(10, 10, 100, 50));
    struct Case {
        int32_t x1, y1, x2, y2;
        uint32_t result;
        int32_t ex1, ey1, ex2, ey2;
    };
    const Case cases[] = {
        {20, 20, 80, 40, 1, 20, 20, 80, 40},                   // inside: untouched
        {0, 20, 5, 40, 0, 0, 0, 0, 0},                         // wholly left
        {0, 30, 50, 30, 1, 10, 30, 50, 30},                    // crosses the left edge
        {50, 30, 200, 30, 1, 50, 30, 100, 30},                 // crosses the right edge
        {50, 0, 50, 30, 1, 50, 10, 50, 30},                    // crosses the top
        {50, 30, 50, 90, 1, 50, 30, 50, 50},                   // crosses the bottom
        {0, 0, 110, 60, 1, 18, 10, 91, 50},                    // enters at the top, leaves at the bottom
        {0, 45, 20, 70, 0, 0, 0, 0, 0},                        // passes outside the bottom-left corner
        {95, 0, 120, 20, 0, 0, 0, 0, 0},                       // passes outside the top-right corner
        {-2000000000, 30, 2000000000, 30, 1, 10, 30, 100, 30}, // far ends: no overflow
        {55, -2000000000, 55, 2000000000, 1, 55, 10, 55, 50},
        {10, 10, 10, 10, 1, 10, 10, 10, 10}, // one pixel on the corner
        {9, 9, 9, 9, 0, 0, 0, 0, 0},         // one pixel outside it
    };
    for (const Case& c : cases) {
        int32_t x1 = c.x1, y1 = c.y1, x2 = c.x2, y2 = c.y2;
        EXPECT_EQ(s->ClipLine(x1, y1, x2, y2), c.result) << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
        if (c.result) {
            EXPECT_EQ(x1, c.ex1);
            EXPECT_EQ(y1, c.ey1);
            EXPECT_EQ(x2, c.ex2);
            EXPECT_EQ(y2, c.ey2);
        }
    }
}

TEST_F(ScreenBaseTest, ClipStackAndEmptyClip)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* s = Screen();
    EXPECT_EQ(s->clipDepth, 0);
    EXPECT_FALSE(s->PopClip());
    const CRect whole(0, 0, 639, 479);
    EXPECT_TRUE(s->clip.IsEqual(&whole));
    for (int32_t i = 0; i < 32; ++i) {
        s->SetClip(i, i, 600 - i, 400 - i);
        EXPECT_TRUE(s->PushClip()) << i;
    }
    EXPECT_FALSE(s->PushClip()) << "33rd push";
    for (int32_t i = 31; i >= 0; --i) {
        ASSERT_TRUE(s->PopClip());
        const CRect want(i, i, 600 - i, 400 - i);
        EXPECT_TRUE(s->clip.IsEqual(&want)) << i;
    }
    EXPECT_FALSE(s->PopClip());

    // Rectangles that do not meet: an empty clip, not the pixel (0, 0).
    s->FillRect(0, 0, 640, 480, TRGBA(0, 0, 0));
    s->SetClip(0, 0, 639, 479);
    s->SetSubClip(700, 700, 800, 800);
    EXPECT_TRUE(s->clipEmpty);
    EXPECT_TRUE(s->clip.IsNull());
    EXPECT_TRUE(s->PushClip());
    s->SetSubClip(0, 0, 10, 10); // stays empty
    EXPECT_TRUE(s->clipEmpty);
    const uint32_t before = tvtest::PixelHash(*s->GetScreenBitmap());
    CBitmap pic;
    ASSERT_TRUE(pic.CreateRGB(8, 8, 24, 8, 8, 8, 0, 8, 16, 0));
    const TRGBA white(255, 255, 255);
    pic.Fill(&white);
    s->FillRect(0, 0, 10, 10, white);
    s->FillRectAlpha(0, 0, 10, 10, 50);
    s->DrawLine(0, 0, 0, 0, white);
    s->DrawLine(0, 0, 639, 479, white);
    s->DrawBitmapScreen(&pic, 0, 0, 0, 0, -1, -1, 0, 0);
    s->SetTexture(&pic);
    s->SetPolygon(0, 0, 0, 20, 0, 0, 20, 20, 0, 0, 20, 0);
    CRect drawn, *out = &drawn;
    EXPECT_FALSE(s->DrawPolygonScreen(out));
    EXPECT_FALSE(s->DrawShadowPolygonScreen(out));
    EXPECT_EQ(tvtest::PixelHash(*s->GetScreenBitmap()), before);
    uint32_t x1 = 0;
    int32_t a = 0, b = 0, c = 0, d = 0;
    x1 = s->ClipLine(a, b, c, d);
    EXPECT_EQ(x1, 0u);
    // The stack keeps the empty state too.
    EXPECT_TRUE(s->PopClip());
    EXPECT_TRUE(s->clipEmpty);
    s->SetClip(0, 0, 639, 479);
    EXPECT_FALSE(s->clipEmpty);
}

TEST_F(ScreenBaseTest, AreaLists)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    ASSERT_TRUE(s->SetPersistentMode(1));
    s->clearCount[0] = s->persistentCount[0] = s->persistentCount[1] = s->shadowCount[0] = 0;
    const CRect retired(-100, -100, -101, -101);

    s->AddClearArea(10, 20, 29, 39);
    s->AddClearArea(10, 20, 29, 39); // equal: one entry
    ASSERT_EQ(s->clearCount[0], 1);
    s->AddClearArea(39, 39, 20, 20); // reversed corners are normalised; overlapping: merged
    ASSERT_EQ(s->clearCount[0], 2);
    const CRect merged(10, 20, 39, 39);
    EXPECT_TRUE(s->clearAreas[0][0].IsEqual(&retired));
    EXPECT_TRUE(s->clearAreas[0][1].IsEqual(&merged));
    s->AddClearArea(200, 200, 210, 210); // apart: appended
    EXPECT_EQ(s->clearCount[0], 3);
    // Off the screen: nothing; partly off: cut to the screen.
    s->AddClearArea(-50, -50, -1, -1);
    s->AddClearArea(700, 0, 800, 10);
    EXPECT_EQ(s->clearCount[0], 3);
    s->AddClearArea(630, 470, 700, 600);
    ASSERT_EQ(s->clearCount[0], 4);
    const CRect cut(630, 470, 639, 479);
    EXPECT_TRUE(s->clearAreas[0][3].IsEqual(&cut));
    // Screen-sized rectangles merge without 32-bit overflow of their products.
    s->AddClearArea(-2000000000, -2000000000, 2000000000, 2000000000);
    EXPECT_EQ(s->clearCount[0], 5);
    // Fill to 128; the 129th makes the whole screen.
    s->clearCount[0] = 0;
    for (int32_t i = 0; i < 128; ++i)
        s->AddClearArea(i * 4, 0, i * 4, 0);
    EXPECT_EQ(s->clearCount[0], 128);
    s->AddClearArea(1, 100, 1, 100);
    ASSERT_EQ(s->clearCount[0], 1);
    const CRect whole(0, 0, 639, 479);
    EXPECT_TRUE(s->clearAreas[0][0].IsEqual(&whole));

    // Persistent areas: merged on this page, the result joins every page in use.
    s->AddClearAreaPersistent(0, 0, 9, 9);
    s->AddClearAreaPersistent(0, 0, 9, 9); // no equality test: appended again
    EXPECT_EQ(s->persistentCount[0], 2);
    EXPECT_EQ(s->persistentCount[1], 2);
    EXPECT_EQ(s->persistentCount[2], 0);

    // Shadow areas: cut to the clip, added on all three pages.
    s->SetClip(100, 100, 199, 199);
    const int32_t before[3] = {s->shadowCount[0], s->shadowCount[1], s->shadowCount[2]};
    s->AddShadowArea(150, 150, 300, 300);
    s->AddShadowArea(0, 0, 50, 50); // misses the clip
    const CRect shadow(150, 150, 199, 199);
    for (int32_t p = 0; p < 3; ++p) {
        ASSERT_EQ(s->shadowCount[p], before[p] + 1);
        EXPECT_TRUE(s->shadowAreas[p][s->shadowCount[p] - 1].IsEqual(&shadow));
    }
}

// The merge scan skips entries that share no pixel with the new area; the
// lists must still come out exactly as the plain rule builds them (union
// smaller than the two: retire and grow; a contained area adds nothing; the
// 129th entry makes the whole screen), also next to entries whose edge
// distances wrap.
TEST_F(ScreenBaseTest, AreaListsFollowThePlainMergeRule)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    ASSERT_TRUE(s->SetPersistentMode(1));
    const CRect screen(0, 0, 639, 479);
    auto plainAdd = [&](std::vector<CRect>& list, CRect r) {
        r.Normalize();
        CRect cut;
        if (!cut.Intersect(r, screen))
            return;
        r = cut;
        for (CRect& e : list) {
            if (e.right < e.left || e.bottom < e.top)
                continue;
            if (r.left >= e.left && r.top >= e.top && r.right <= e.right && r.bottom <= e.bottom)
                return;
            CRect u;
            u.Union(e, r);
            const int64_t grow = static_cast<int64_t>(u.Width()) * u.Height() -
                                 static_cast<int64_t>(e.Width()) * e.Height() -
                                 static_cast<int64_t>(r.Width()) * r.Height();
            if (grow < 0) {
                e.SetXYWH(-100, -100, 0, 0);
                r = u;
            }
        }
        if (list.size() >= XSCREEN_AREAS)
            list.assign(1, screen);
        else
            list.push_back(r);
    };
    struct Run {
        const char* what;
        int32_t size, spread; // rectangle sides up to size, steps up to spread
        CRect seeded;         // written into the list first (right < left: none)
    };
    const Run runs[] = {
        {"sprites moving a few pixels", 32, 4, CRect(0, 0, -1, -1)},
        {"scattered small areas", 20, 640, CRect(0, 0, -1, -1)},
        {"large overlapping areas", 300, 200, CRect(0, 0, -1, -1)},
        {"beside an entry whose width wraps", 32, 4, CRect(-2147483600, 0, 5, 479)},
        {"beside a far entry", 40, 640, CRect(1 << 30, 100, (1 << 30) + 5, 200)},
    };
    uint32_t seed = 99;
    auto next = [&](int32_t n) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int32_t>((seed >> 16) % static_cast<uint32_t>(n));
    };
    for (const Run& run : runs) {
        SCOPED_TRACE(run.what);
        std::vector<CRect> want;
        s->clearCount[0] = 0;
        if (run.seeded.right >= run.seeded.left) {
            s->clearAreas[0][0] = run.seeded;
            s->clearCount[0] = 1;
            want.push_back(run.seeded);
        }
        int32_t x = 300, y = 200;
        for (int32_t i = 0; i < 400; ++i) {
            x = (x + next(2 * run.spread + 1) - run.spread + 640) % 640;
            y = (y + next(2 * run.spread + 1) - run.spread + 480) % 480;
            const CRect r(x - 10, y - 10, x + next(run.size), y + next(run.size));
            s->AddClearArea(r.left, r.top, r.right, r.bottom);
            plainAdd(want, r);
            ASSERT_EQ(s->clearCount[0], static_cast<int32_t>(want.size())) << "add " << i;
            for (size_t k = 0; k < want.size(); ++k)
                ASSERT_TRUE(s->clearAreas[0][k].IsEqual(&want[k])) << "add " << i << " entry " << k;
        }
    }
}

TEST_F(ScreenBaseTest, PrimitivesCrossingClipEdges)
{
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        const CRect clipRect(100, 100, 199, 179);
        // Each edge and each corner, and wholly inside / outside.
        const CRect boxes[] = {{90, 120, 119, 139},  {180, 120, 219, 139}, {130, 90, 149, 109},
                               {130, 170, 149, 199}, {90, 90, 109, 109},   {190, 90, 209, 109},
                               {90, 170, 109, 189},  {190, 170, 209, 189}, {120, 120, 129, 129},
                               {300, 300, 310, 310}, {50, 50, 300, 300}};
        for (const CRect& box : boxes) {
            s->SetClip(0, 0, 639, 479);
            s->FillRect(0, 0, 640, 480, TRGBA(0, 0, 0));
            s->layerCount[0] = 0;
            s->SetClip(clipRect.left, clipRect.top, clipRect.right, clipRect.bottom);
            s->FillRect(box.left, box.top, box.right - box.left + 1, box.bottom - box.top + 1,
                        TRGBA(255, 255, 255));
            CRect want;
            const bool meets = want.Intersect(box, clipRect) == TRUE;
            const std::vector<TRGBA> px = Pixels();
            int32_t wrong = 0;
            for (int32_t y = 0; y < 480; ++y)
                for (int32_t x = 0; x < 640; ++x) {
                    const bool lit = meets && want.IsPntInRect(x, y);
                    wrong += (px[y * 640 + x].r >= 200) != lit;
                }
            EXPECT_EQ(wrong, 0) << box.left << "," << box.top;
            // What was touched is registered, cut to the clip.
            if (meets) {
                ASSERT_EQ(s->layerCount[0], 1);
                EXPECT_TRUE(s->layerAreas[0][0].IsEqual(&want));
            } else {
                EXPECT_EQ(s->layerCount[0], 0);
            }
        }
        // Lines leaving through each side and corner stay inside the clip.
        s->SetClip(0, 0, 639, 479);
        s->FillRect(0, 0, 640, 480, TRGBA(0, 0, 0));
        s->SetClip(clipRect.left, clipRect.top, clipRect.right, clipRect.bottom);
        s->layerCount[0] = 0;
        const int32_t ends[][2] = {{0, 140}, {639, 140}, {150, 0}, {150, 479},
                                   {0, 0},   {639, 0},   {0, 479}, {639, 479}};
        for (const auto& e : ends)
            s->DrawLine(150, 140, e[0], e[1], TRGBA(255, 255, 255));
        const std::vector<TRGBA> px = Pixels();
        int32_t outside = 0, inside = 0;
        for (int32_t y = 0; y < 480; ++y)
            for (int32_t x = 0; x < 640; ++x)
                if (px[y * 640 + x].r >= 200)
                    (clipRect.IsPntInRect(x, y) ? inside : outside)++;
        EXPECT_EQ(outside, 0);
        EXPECT_GT(inside, 8 * 30);
        // Each line reaches the clip's border.
        for (const CRect& p : {CRect(100, 140, 100, 140), CRect(199, 140, 199, 140),
                               CRect(150, 100, 150, 100), CRect(150, 179, 150, 179)})
            EXPECT_GE(px[p.top * 640 + p.left].r, 200) << p.left << "," << p.top;
        EXPECT_GT(s->layerCount[0], 0);
    }
}

TEST_F(ScreenBaseTest, FillRectAlpha)
{
    struct Case {
        int32_t percent;
        int32_t level16; // levels after clamping the percentage
        int32_t level24;
    };
    const Case cases[] = {{-20, 0, 0}, {0, 0, 0}, {10, 3, 25}, {50, 15, 127}, {100, 31, 255}, {250, 31, 255}};
    for (int32_t bits : {8, 16, 24}) {
        ASSERT_TRUE(Open(640, 480, bits));
        CDibScreen* s = Screen();
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(bits) + " " + std::to_string(c.percent));
            s->SetClip(0, 0, 639, 479);
            s->FillRect(0, 0, 640, 480, TRGBA(200, 100, 48));
            const TRGBA before = PixelColor(*s->GetScreenBitmap(), &s->palette, 5, 5);
            s->SetClip(0, 0, 9, 9);
            s->FillRectAlpha(-5, -5, 20, 20, c.percent);
            const TRGBA in = PixelColor(*s->GetScreenBitmap(), &s->palette, 5, 5);
            const TRGBA out = PixelColor(*s->GetScreenBitmap(), &s->palette, 10, 5);
            EXPECT_EQ(out, before);
            auto sub = [](int32_t v, int32_t d) { return static_cast<uint8_t>(v - d < 0 ? 0 : v - d); };
            if (bits == 8) {
                EXPECT_EQ(in, before); // nothing on palette screens
            } else if (bits == 16) {
                // 5-bit channels minus the level.
                EXPECT_EQ(in, TRGBA(sub(200 >> 3, c.level16) << 3, sub(100 >> 3, c.level16) << 3,
                                    sub(48 >> 3, c.level16) << 3, 0));
            } else {
                EXPECT_EQ(in, TRGBA(sub(200, c.level24), sub(100, c.level24), sub(48, c.level24), 0));
            }
        }
    }
}

TEST_F(ScreenBaseTest, PersistentAndBackgroundPictures)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CDibScreen* s = Screen();
    EXPECT_FALSE(s->SetPersistentToBackground());
    ASSERT_TRUE(s->SetPersistentMode(1));
    ASSERT_TRUE(s->SetBackgroundMode(1));
    ASSERT_NE(s->persistent, nullptr);
    ASSERT_NE(s->background, nullptr);
    const TRGBA red(255, 0, 0);
    s->persistent->Fill(&red);
    ASSERT_TRUE(s->SetPersistentToBackground());
    // The last row and column too.
    TRGBA c;
    ASSERT_TRUE(s->background->GetPixel(639, 479, &c));
    EXPECT_EQ(c.r, 248);
    // Back the other way for the whole mode.
    const TRGBA blue(0, 0, 255);
    s->background->Fill(&blue);
    s->persistentCount[0] = s->persistentCount[1] = 0;
    EXPECT_TRUE(s->UpdateFromBackgroundToPersistent(0, 0, 0, 0));
    ASSERT_TRUE(s->persistent->GetPixel(639, 479, &c));
    EXPECT_EQ(c.b, 248);
    EXPECT_EQ(s->persistentCount[0], 1);

    // A different mode brings pictures of its own size and layout.
    ASSERT_TRUE(s->InitModeRez(800, 600, 24, 1));
    ASSERT_NE(s->persistent, nullptr);
    EXPECT_EQ(s->persistent->width, 800);
    EXPECT_EQ(s->persistent->bits, 24);
    EXPECT_EQ(s->background->height, 600);
    ASSERT_EQ(xHandler(), 0);
    EXPECT_TRUE(tvtest::WindowShowsBuffer(s, "after_mode_change"));

    // The alpha buffer is 8-bit in every mode.
    ASSERT_TRUE(s->SetAlphaBufferMode(1));
    EXPECT_EQ(s->alphaBuffer->bits, 8);
    CBitmap mask;
    ASSERT_TRUE(mask.CreateRGB(10, 10, 24, 8, 8, 8, 0, 8, 16, 0));
    EXPECT_TRUE(s->DrawBitmapAlpha(&mask, 0, 0, 5, 5, -1, -1, 0, 0));
    EXPECT_EQ(mask.bits, 8);

    // Leaving the mode forgets the mode, its pictures and the current screen.
    EXPECT_TRUE(s->ExitMode());
    EXPECT_EQ(s->GetActiveMode(), nullptr);
    EXPECT_EQ(s->persistent, nullptr);
    EXPECT_EQ(s->modes.GetNumNodes(), 0);
    EXPECT_EQ(glb->screen, nullptr);
    EXPECT_FALSE(s->InitModeRez(640, 480, 16, -1));
    ASSERT_TRUE(s->GetVideoModes());
    EXPECT_TRUE(s->InitModeRez(640, 480, 16, -1));
}

} // namespace
