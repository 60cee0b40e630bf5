// Progress bars and time-out clocks (ranges, clamping, refused empty
// ranges, the pie's error texts) and the scrolling text driven by its timer
// on the test clock, wrapping around its strip.
#include "controls_util.h"

#include <climits>

namespace
{

using tvtest::ControlTest;

class Statics : public ControlTest
{
};

// The same range rules for both kinds.
template <class T> void RangeTable(T& c, const char* kind)
{
    struct Step {
        const char* name;
        int32_t setMin, setMax; // SetRange when setMin != INT_MIN + 1
        int32_t rangeResult;
        int32_t setValue;
        int32_t min, max, value;
    };
    constexpr int32_t kNoRange = INT_MIN + 1;
    const Step steps[] = {
        {"defaults", kNoRange, 0, 1, 50, 0, 100, 50},
        {"clamped above", kNoRange, 0, 1, 250, 0, 100, 100},
        {"clamped below", kNoRange, 0, 1, -3, 0, 100, 0},
        {"empty range refused", 7, 7, 0, 5, 0, 100, 5},
        {"reversed range refused", 9, 1, 0, 5, 0, 100, 5},
        {"new range clamps the value", 10, 20, 1, 5, 10, 20, 10},
        {"widest range", INT_MIN, INT_MAX, 1, INT_MAX, INT_MIN, INT_MAX, INT_MAX},
    };
    for (const Step& s : steps) {
        if (s.setMin != kNoRange) {
            EXPECT_EQ(c.SetRange(s.setMin, s.setMax), s.rangeResult) << kind << ": " << s.name;
        }
        c.SetValue(s.setValue);
        int32_t lo = 0, hi = 0;
        c.GetRange(lo, hi);
        EXPECT_EQ(lo, s.min) << kind << ": " << s.name;
        EXPECT_EQ(hi, s.max) << kind << ": " << s.name;
        EXPECT_EQ(c.GetValue(), s.value) << kind << ": " << s.name;
    }
}

TEST_F(Statics, ProgressAndTimeoutRanges)
{
    CProgress p;
    p.Create(40, 10, 10, 100, 12, CNTRL_EXTRUDED);
    RangeTable(p, "progress");
    // The bar of the widest range does not overflow.
    p.SetValue(0);
    EXPECT_EQ(p.FilledWidth(100), 50);
    p.SetRange(0, 100);
    p.SetValue(25);
    EXPECT_EQ(p.FilledWidth(100), 25);
    EXPECT_EQ(p.FilledWidth(0), 0);
    p.Destroy();

    CTimeout t;
    t.Create(41, 10, 30, 40, 40, 0, 0, 0, 0);
    RangeTable(t, "time-out");
    t.Destroy();
    // The create values: range and value; an empty range keeps 0..100.
    struct Case {
        int32_t min, max, value;
        int32_t wantMin, wantMax, wantValue;
    };
    const Case cases[] = {{5, 5, 3, 0, 100, 3}, {10, 60, 70, 10, 60, 60}, {50, 10, 20, 0, 100, 20}};
    for (const Case& c : cases) {
        CTimeout u;
        u.Create(42, 0, 0, 30, 30, c.min, c.max, c.value, 0);
        int32_t lo = 0, hi = 0;
        u.GetRange(lo, hi);
        EXPECT_EQ(lo, c.wantMin);
        EXPECT_EQ(hi, c.wantMax);
        EXPECT_EQ(u.GetValue(), c.wantValue);
        u.Destroy();
    }
}

TEST_F(Statics, NoInputButTheHotkeyPhase)
{
    CProgress p;
    p.Create(40, 10, 10, 100, 12, 0);
    p.SetHotkey('p');
    CTimeout t;
    t.Create(41, 10, 30, 40, 40, 0, 100, 0, 0);
    t.SetHotkey('p');
    win->AddCntrl(&p);
    win->AddCntrl(&t);
    Feed({tvtest::M(20, 15), tvtest::M(20, 15, 1), tvtest::M(20, 15), tvtest::K('p', 1)});
    EXPECT_EQ(p.hotkeyPhase, 2);
    EXPECT_EQ(t.hotkeyPhase, 2);
    EXPECT_EQ(p.GetState(), XGUI_RELEASED);
    EXPECT_TRUE(log.empty());
    win->RemoveAllCntrl();
    p.Destroy();
    t.Destroy();
}

TEST_F(Statics, PieErrors)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CTimeout t;
    t.Create(41, 10, 10, 0, 20, 0, 100, 50, 0);
    win->AddCntrl(&t);
    glb->error.Clear();
    t.Draw(0, 0, 0);
    EXPECT_STREQ(glb->error.GetError(), "Couldn't create dib section: 0!");
    win->RemoveAllCntrl();
    t.Destroy();
}

class ScrollClock : public ControlTest
{
  protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        tvp::TestSetManualClock(true, 100000);
        ASSERT_TRUE(OpenWithFont(640, 480, 24));
        xHandler();
    }
    void TearDown() override
    {
        ControlTest::TearDown();
        tvp::TestSetManualClock(false);
    }
    void Advance(uint32_t ms)
    {
        tvp::TestAdvanceClock(ms);
        xHandler();
    }
};

TEST_F(ScrollClock, StepsAndWrapsOnItsTimer)
{
    CScrollText s;
    static char text[] = "Welcome to the server";
    ASSERT_EQ(s.Create(text, 10, 10, 80, 20, 3, 0), 1);
    win->AddCntrl(&s);
    ASSERT_GT(s.TextWidth(), 80);
    ASSERT_NE(s.strip, nullptr);
    EXPECT_EQ(s.strip->bits, 24);
    const int32_t strip = s.TextWidth() + 80;
    EXPECT_EQ(s.Start(0), 0);
    EXPECT_EQ(s.Start(40), 1);
    EXPECT_EQ(s.IsScrolling(), 1);
    xHandler(); // the timer starts counting
    struct Step {
        const char* name;
        uint32_t advance;
        int32_t pos;
    };
    const Step steps[] = {
        {"not yet", 39, 0},
        {"one tick", 1, 3},
        {"ten ticks in one frame", 400, 33},
    };
    for (const Step& st : steps) {
        Advance(st.advance);
        EXPECT_EQ(s.scrollPos, st.pos) << st.name;
    }
    // Around the strip and back to the start.
    const int32_t ticks = (strip - 33 + 2) / 3;
    Advance(static_cast<uint32_t>(ticks) * 40);
    EXPECT_EQ(s.scrollPos, (33 + 3 * ticks) % strip);
    EXPECT_LT(s.scrollPos, 3);
    s.SetPixPerFrame(5);
    int32_t at = s.scrollPos;
    Advance(40);
    EXPECT_EQ(s.scrollPos, at + 5);
    EXPECT_EQ(s.Stop(), 1);
    EXPECT_EQ(s.IsScrolling(), 0);
    Advance(400);
    EXPECT_EQ(s.scrollPos, at + 5);
    // New text starts from the beginning.
    static char other[] = "Hi";
    s.SetText(other);
    EXPECT_EQ(s.scrollPos, 0);
    EXPECT_LT(s.TextWidth(), 80);
    win->RemoveAllCntrl();
    s.Destroy();
}

} // namespace
