// Animation lines of a control on the manual clock: the path of a line's
// steps tick by tick, a frame animation of 20 ms running beside a line
// without either stealing the other's tick, lines bound to a state, lines
// taken over by Copy, the refused arguments, and the picture drawn at the
// line's position.
#include "../gfx/screen_util.h"

#include <tarvex/window.h>

#include <string>
#include <vector>

namespace
{

class AnimLine : public tvtest::ScreenTest
{
  protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        tvp::TestSetManualClock(true, 1000);
        xUpdateObjTimers(); // the first pass starts the count
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        ScreenTest::TearDown();
    }
    // Timers added since the last pass start counting in a pass of their own.
    static void Ticks(int32_t n)
    {
        xUpdateObjTimers();
        for (int32_t i = 0; i < n; ++i) {
            tvp::TestAdvanceClock(XANIMLINE_TICK);
            xUpdateObjTimers();
        }
    }
    static TAnimLine* Line(CControlBase& c, int32_t i = 0)
    {
        return static_cast<TAnimLine*>(c.animLines.Get(static_cast<uint32_t>(i)));
    }
    static const char* StepName(TAnimLine* l) { return static_cast<TAnimLineStep*>(l->steps.Get())->name; }
};

char kPath[] = "path";

TEST_F(AnimLine, StepsTravelThenWaitThenLoop)
{
    CControlBase c;
    c.Create(1);
    c.SetSize(40, 20);
    CBitmap pic;
    ASSERT_TRUE(pic.CreateRGB(2, 2, 24, 8, 8, 8, 16, 8, 0, 0));
    char walk[] = "walk", rest[] = "rest";
    ASSERT_TRUE(c.SetAnimLine(0, kPath, 0, 0, nullptr, 3, -6, walk, &pic));
    ASSERT_TRUE(c.SetAnimLine(0, kPath, 5, 5, nullptr, 6, 5, rest)); // a wait of two ticks
    ASSERT_EQ(c.animLines.GetNumNodes(), 1);
    struct Case {
        int32_t ticks;
        const char* step;
        int32_t x, y;
    };
    // The walk lasts seven ticks (six pixels along y, end included).
    const Case cases[] = {
        {0, "walk", 0, 0}, {1, "walk", 0, -1}, {3, "walk", 1, -3}, {6, "walk", 3, -6},
        {7, "rest", 5, 5}, {8, "rest", 6, 5},  {9, "walk", 0, 0},
    };
    int32_t done = 0;
    for (const Case& k : cases) {
        Ticks(k.ticks - done);
        done = k.ticks;
        TAnimLine* l = Line(c);
        EXPECT_STREQ(StepName(l), k.step) << "after " << k.ticks;
        EXPECT_EQ(l->px, k.x) << "after " << k.ticks;
        EXPECT_EQ(l->py, k.y) << "after " << k.ticks;
    }
    c.Destroy();
    EXPECT_EQ(c.animLines.GetNumNodes(), 0);
}

// A frame animation with a delay of 20 ms and a line share no timer: each
// tick moves the frame once and the line once.
TEST_F(AnimLine, TwentyMillisecondAnimationKeepsItsOwnTimer)
{
    CBitmap sheet;
    ASSERT_TRUE(sheet.CreateRGB(8, 4, 24, 8, 8, 8, 16, 8, 0, 0));
    TCntrlAnim* frames = xCreateCntrlAnim(&sheet, 4, 4, 2, 1, 0, 20);
    ASSERT_NE(frames, nullptr);
    CControlBase c;
    c.Create(1);
    c.SetSize(40, 20);
    c.SetFlag(CNTRL_ANIMNORMAL);
    ASSERT_TRUE(c.SetAnimBitmap(frames, XGUI_RELEASED, ANIM_LOOP));
    char obj[] = "o";
    ASSERT_TRUE(c.SetAnimLine(0, kPath, 0, 0, frames, 10, 0, obj));
    for (int32_t t = 1; t <= 4; ++t) {
        Ticks(1);
        EXPECT_EQ(frames->frames.Get(), frames->frames.Get(static_cast<uint32_t>(t % 2))) << t;
        EXPECT_EQ(Line(c)->px, t) << t;
    }
    c.Destroy();
    xFreeCntrlAnim(frames);
}

TEST_F(AnimLine, RunsOnlyInItsStateAndRewindsWhenLeft)
{
    CControlBase c;
    c.Create(1);
    c.SetSize(40, 20);
    char obj[] = "o";
    ASSERT_TRUE(c.SetAnimLine(XGUI_PRESSED, kPath, 0, 0, nullptr, 9, 0, obj));
    ASSERT_TRUE(c.SetAnimLine(0, kPath, 0, 0, nullptr, 9, 0, obj)); // same name, other state: a second line
    ASSERT_EQ(c.animLines.GetNumNodes(), 2);
    Ticks(2);
    EXPECT_EQ(Line(c, 0)->px, 0);
    EXPECT_EQ(Line(c, 1)->px, 2);
    c.SetState(XGUI_PRESSED);
    Ticks(3);
    EXPECT_EQ(Line(c, 0)->px, 3);
    c.SetState(XGUI_RELEASED);
    Ticks(1);
    EXPECT_EQ(Line(c, 0)->px, 0);
    EXPECT_EQ(Line(c, 1)->px, 6);
    c.Destroy();
}

// A copy takes the source's lines as its own: the same steps and states,
// run on its own timer from the start, and kept when the source goes away.
// Lines the copy had before are replaced; copying from itself keeps them.
TEST_F(AnimLine, CopyTakesTheLines)
{
    CBitmap pic;
    ASSERT_TRUE(pic.CreateRGB(2, 2, 24, 8, 8, 8, 16, 8, 0, 0));
    char walk[] = "walk", old[] = "old", obj[] = "o";
    CControlBase to;
    to.Create(2);
    to.SetSize(40, 20);
    ASSERT_TRUE(to.SetAnimLine(0, old, 0, 0, nullptr, 1, 1, obj));
    {
        CControlBase from;
        from.Create(1);
        from.SetSize(40, 20);
        ASSERT_TRUE(from.SetAnimLine(0, kPath, 0, 0, nullptr, 9, 0, walk, &pic));
        ASSERT_TRUE(from.SetAnimLine(0, kPath, 4, 4, nullptr, 5, 4, obj));
        ASSERT_TRUE(from.SetAnimLine(XGUI_PRESSED, kPath, 0, 0, nullptr, 0, 9, obj));
        Ticks(3);
        ASSERT_TRUE(to.Copy(&from));
        from.Destroy();
    }
    ASSERT_EQ(to.animLines.GetNumNodes(), 2);
    EXPECT_STREQ(Line(to, 0)->name, "path");
    EXPECT_EQ(Line(to, 0)->state, 0);
    EXPECT_EQ(Line(to, 0)->steps.GetNumNodes(), 2);
    EXPECT_EQ(Line(to, 1)->state, XGUI_PRESSED);
    auto* first = static_cast<TAnimLineStep*>(Line(to, 0)->steps.first->data);
    EXPECT_STREQ(first->name, "walk");
    EXPECT_EQ(first->bitmaps[0], &pic);
    EXPECT_EQ(first->x1, 9);
    EXPECT_EQ(Line(to, 0)->px, 0);
    Ticks(2);
    EXPECT_EQ(Line(to, 0)->px, 2);
    ASSERT_TRUE(to.Copy(&to));
    EXPECT_EQ(to.animLines.GetNumNodes(), 2);
    to.Destroy();
}

TEST_F(AnimLine, RefusedArguments)
{
    CControlBase c;
    c.Create(1);
    TCntrlAnim stalled; // a frame delay of 0
    char empty[] = "", longName[] = "abcdefghijklmnopqrstuvwxyz012345", obj[] = "o";
    struct Case {
        const char* what;
        char* line;
        TCntrlAnim* anim;
        char* object;
    };
    const Case cases[] = {
        {"no name", nullptr, nullptr, obj},
        {"empty name", empty, nullptr, obj},
        {"32-character name", longName, nullptr, obj},
        {"32-character object", kPath, nullptr, longName},
        {"frame delay 0", kPath, &stalled, obj},
    };
    for (const Case& k : cases)
        EXPECT_EQ(c.SetAnimLine(0, k.line, 0, 0, k.anim, 1, 1, k.object), 0) << k.what;
    EXPECT_EQ(c.animLines.GetNumNodes(), 0);
    EXPECT_EQ(c.SetAnimLine_InsertNewAnimLine(nullptr, kPath), 0);
}

TEST_F(AnimLine, DrawsThePictureOfItsStateAtItsPosition)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CScreenBase* s = Screen();
    s->FillRect(0, 0, 640, 480, TRGBA(0, 0, 0));
    CBitmap normal, pressed;
    ASSERT_TRUE(normal.CreateRGB(2, 2, 24, 8, 8, 8, 16, 8, 0, 0));
    ASSERT_TRUE(pressed.CreateRGB(2, 2, 24, 8, 8, 8, 16, 8, 0, 0));
    TRGBA red(255, 0, 0), blue(0, 0, 255);
    normal.Fill(&red);
    pressed.Fill(&blue);
    CControlBase c;
    c.Create(1);
    c.SetPos(10, 10);
    c.SetSize(30, 20);
    char obj[] = "o";
    ASSERT_TRUE(c.SetAnimLine(0, kPath, 4, 3, nullptr, 40, 3, obj, &normal, &pressed));
    Ticks(2);
    // Window at (20, 30): the picture sits at 20 + 10 + 6, 30 + 10 + 3.
    EXPECT_TRUE(c.DrawAnimLines(20, 30));
    const CBitmap& b = *s->GetScreenBitmap();
    auto at = [&](int32_t px, int32_t py) { return tvtest::PixelColor(b, &s->palette, px, py); };
    EXPECT_EQ(at(36, 43), red);
    EXPECT_EQ(at(37, 44), red);
    EXPECT_EQ(at(35, 43), TRGBA(0, 0, 0));
    c.SetState(XGUI_PRESSED);
    EXPECT_TRUE(c.DrawAnimLines(20, 30));
    EXPECT_EQ(at(36, 43), blue);
    // Past the control's right edge nothing is drawn.
    s->FillRect(0, 0, 640, 480, TRGBA(0, 0, 0));
    c.SetState(XGUI_RELEASED);
    Ticks(30);
    EXPECT_EQ(Line(c)->px, 36);
    c.DrawAnimLines(20, 30);
    EXPECT_EQ(at(20 + 10 + 36, 43), TRGBA(0, 0, 0));
    c.Destroy();
}

} // namespace
