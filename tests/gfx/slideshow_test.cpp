// Slide shows on the manual clock: order and wrap-around, the empty show,
// random display times within their bounds, and the cut and cross-fade
// rendered into a target compared by golden hashes.
#include "screen_util.h"

#include <tarvex/slideshow.h>

#include <cstdlib>

namespace
{

class SlideShowTest : public tvtest::TarvexTest
{
  protected:
    SlideShowTest() : TarvexTest(true) {}
    void SetUp() override
    {
        TarvexTest::SetUp();
        tvp::TestSetManualClock(true, 100000);
        xUpdateObjTimers();
        for (int32_t i = 0; i < 3; ++i) {
            ASSERT_TRUE(pics[i].CreateRGB(16, 8, 24, 8, 8, 8, 0, 8, 16, 0));
            TRGBA c(static_cast<uint8_t>(i == 0 ? 255 : 0), static_cast<uint8_t>(i == 1 ? 255 : 0),
                    static_cast<uint8_t>(i == 2 ? 255 : 0), 0);
            pics[i].Fill(&c);
        }
        ASSERT_TRUE(target.CreateRGB(16, 8, 24, 8, 8, 8, 0, 8, 16, 0));
        TRGBA black(0, 0, 0, 0);
        target.Fill(&black);
    }
    void TearDown() override
    {
        show.Stop();
        show.CreateEmpty(nullptr, 0, 0, 0);
        for (CBitmap& b : pics)
            b.Free();
        target.Free();
        tvp::TestSetManualClock(false, 0);
        TarvexTest::TearDown();
    }
    void Pass(uint32_t ms)
    {
        for (uint32_t t = 0; t < ms; t += 10) {
            tvp::TestAdvanceClock(10);
            xUpdateObjTimers();
        }
    }
    TRGBA TargetPixel()
    {
        TRGBA c;
        target.GetPixel(3, 3, &c);
        c.a = 0; // 24-bit pictures hold no alpha
        return c;
    }
    // Starts the show; the timer joins the list on the next pass.
    bool StartShow()
    {
        if (!show.Start(10))
            return false;
        xUpdateObjTimers();
        return true;
    }
    CBitmap pics[3];
    CBitmap target;
    CSlideShow show;
};

TEST_F(SlideShowTest, EmptyShowRefusesToMove)
{
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 0));
    EXPECT_EQ(show.GetCurrentSlideNr(), -1);
    EXPECT_EQ(show.Next(), 0);
    EXPECT_EQ(show.Prev(), 0);
    EXPECT_EQ(show.Goto(0), 0);
    EXPECT_EQ(show.Start(), 0);
    EXPECT_EQ(show.GetEntryBitmap(0), nullptr);
    EXPECT_EQ(show.RemovePicture(0), 0);
}

TEST_F(SlideShowTest, OrderWrapAroundAndGoto)
{
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 0));
    for (int32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(show.AddEntry(i, 0, 100, 100, &pics[i], -1));
    EXPECT_EQ(show.GetNumOfSlides(), 3);
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
    EXPECT_EQ(show.GetEntryBitmap(2), &pics[2]);
    const int32_t nexts[] = {1, 2, 0, 1};
    for (int32_t n : nexts) {
        EXPECT_EQ(show.Next(), 1);
        EXPECT_EQ(show.GetCurrentSlideNr(), n);
    }
    const int32_t prevs[] = {0, 2, 1};
    for (int32_t n : prevs) {
        EXPECT_EQ(show.Prev(), 1);
        EXPECT_EQ(show.GetCurrentSlideNr(), n);
    }
    struct Case {
        int32_t n, result, after;
    } gotos[] = {{2, 1, 2}, {0, 1, 0}, {3, 0, 0}, {-1, 0, 0}, {INT32_MIN, 0, 0}, {1, 1, 1}};
    for (const Case& c : gotos) {
        EXPECT_EQ(show.Goto(c.n), c.result) << c.n;
        EXPECT_EQ(show.GetCurrentSlideNr(), c.after) << c.n;
    }
    EXPECT_EQ(TargetPixel(), TRGBA(0, 255, 0, 0)); // slide 1 is shown
    show.Stop();
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
    // Removing the current slide keeps a valid position.
    ASSERT_TRUE(show.Goto(2));
    EXPECT_TRUE(show.RemoveCurrentEntry(0));
    EXPECT_EQ(show.GetNumOfSlides(), 2);
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
}

TEST_F(SlideShowTest, TimerAdvancesThroughTheSlidesAndWraps)
{
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 0));
    for (int32_t i = 0; i < 3; ++i)
        ASSERT_TRUE(show.AddEntry(0, 0, 200, 200, &pics[i], -1));
    ASSERT_TRUE(StartShow());
    EXPECT_EQ(TargetPixel(), TRGBA(255, 0, 0, 0));
    const int32_t order[] = {1, 2, 0, 1};
    for (int32_t n : order) {
        Pass(190);
        EXPECT_NE(show.GetCurrentSlideNr(), n);
        Pass(10);
        EXPECT_EQ(show.GetCurrentSlideNr(), n);
    }
    EXPECT_EQ(TargetPixel(), TRGBA(0, 255, 0, 0));
    show.Stop();
    Pass(1000);
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
}

TEST_F(SlideShowTest, SuspendedShowDoesNotStart)
{
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 1));
    ASSERT_TRUE(show.AddEntry(0, 0, 10, 10, &pics[0], -1));
    EXPECT_EQ(show.Start(), 0);
    EXPECT_EQ(show.GetState(), XSLIDE_STOPPED);
}

TEST_F(SlideShowTest, RandomLongStaysWithinItsBounds)
{
    std::srand(7);
    struct Case {
        uint32_t min, max;
    } cases[] = {{200, 200}, {100, 300}, {300, 100}, {0, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0}, {5, 6}};
    EXPECT_EQ(CSlideShow::RandomLong(200, 200), 200u);
    for (const Case& c : cases) {
        const uint32_t lo = c.min < c.max ? c.min : c.max;
        const uint32_t hi = c.min < c.max ? c.max : c.min;
        for (int32_t i = 0; i < 200; ++i) {
            const uint32_t r = CSlideShow::RandomLong(c.min, c.max);
            EXPECT_GE(r, lo);
            EXPECT_LE(r, hi);
        }
    }
    // The display time of each slide is drawn from its own bounds; 0 takes
    // the show's default.
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 0));
    ASSERT_TRUE(show.AddEntry(0, 0, 300, 100, &pics[0], -1));
    ASSERT_TRUE(show.AddEntry(0, 0, 0, 0, &pics[1], -1));
    show.defaultInterval = 250;
    ASSERT_TRUE(StartShow());
    for (int32_t i = 0; i < 20; ++i) {
        const uint32_t d = show.GetDwellTime();
        if (show.GetCurrentSlideNr() == 0) {
            EXPECT_GE(d, 100u);
            EXPECT_LE(d, 300u);
        } else {
            EXPECT_EQ(d, 250u);
        }
        show.Next();
    }
}

TEST_F(SlideShowTest, CutAndCrossFadeRenderTheirSteps)
{
    ASSERT_TRUE(show.CreateEmpty(&target, 0, 0, 0));
    ASSERT_EQ(show.AddEffect(TEFFECTDATA{nullptr, XEFFECT_CUT, 0, 0}), 0);
    ASSERT_EQ(show.AddEffect(TEFFECTDATA{nullptr, XEFFECT_CROSSFADE, 4, 20}), 1);
    // A left-to-right ramp fades into blue.
    for (int32_t x = 0; x < 16; ++x)
        for (int32_t y = 0; y < 8; ++y) {
            TRGBA c(static_cast<uint8_t>(x * 16), static_cast<uint8_t>(y * 32), 64, 0);
            pics[0].PutPixel(x, y, &c);
        }
    ASSERT_TRUE(show.AddEntry(0, 0, 100, 100, &pics[0], 0));
    ASSERT_TRUE(show.AddEntry(0, 0, 100, 100, &pics[2], 1));
    ASSERT_TRUE(StartShow());
    EXPECT_TRUE(tvtest::MatchesGolden("slideshow_cut", target, nullptr, tvtest::PixelHash(pics[0])));
    Pass(100); // the transition begins
    EXPECT_EQ(show.GetState(), XSLIDE_TRANSITION);
    Pass(20);
    EXPECT_EQ(TargetPixel(), TRGBA(36, 72, 111, 0)); // a quarter of the way
    EXPECT_TRUE(tvtest::MatchesGolden("slideshow_fade_1", target, nullptr, 3116942405u));
    Pass(20);
    EXPECT_TRUE(tvtest::MatchesGolden("slideshow_fade_2", target, nullptr, 2380234053u));
    Pass(40);
    EXPECT_EQ(show.GetState(), XSLIDE_SHOWING);
    EXPECT_EQ(show.GetCurrentSlideNr(), 1);
    EXPECT_TRUE(tvtest::MatchesGolden("slideshow_fade_end", target, nullptr, tvtest::PixelHash(pics[2])));
    // Back to slide 0 by a cut: no transition state.
    Pass(100);
    EXPECT_EQ(show.GetCurrentSlideNr(), 0);
    EXPECT_EQ(show.GetState(), XSLIDE_SHOWING);
}

} // namespace
