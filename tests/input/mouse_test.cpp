// The mouse fed through the main window: mouse messages posted to the queue
// as the window system would make them and dispatched by xHandler, the
// full-screen pointer timer under the test clock, and the cursor list.
#include "gfx/screenhooks.h"
#include "platform/platform.h"
#include "tarvex_test.h"

#include <string>
#include <vector>

namespace
{

struct Call {
    int32_t x, y, buttons;
};
std::vector<Call> g_calls;
void Record(int32_t x, int32_t y, int32_t buttons) { g_calls.push_back({x, y, buttons}); }

class Mouse : public tvtest::TarvexTest
{
  protected:
    Mouse() : TarvexTest(true) {}
    void SetUp() override
    {
        TarvexTest::SetUp();
        ASSERT_NE(glb->mouse, nullptr);
        // A window the size of a 640 x 480 screen: relative mode keeps the
        // pointer at its middle, (320, 240).
        ASSERT_TRUE(tvp::SetWindowPos(sglb->mainWindow, 0, 0, 640, 480));
        Frame();
        // The first move after start-up only tells where the pointer was.
        Post(WM_MOUSEMOVE, 0, 0, 0);
        Frame();
        g_calls.clear();
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        TarvexTest::TearDown();
    }

    CMouse& M() { return *glb->mouse; }
    void Post(uint32_t msg, uint32_t keyFlags, int32_t x, int32_t y)
    {
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keyFlags, MAKELPARAM(x, y)));
    }
    void Frame() { xHandler(); }
    void Move(int32_t x, int32_t y, uint32_t keyFlags = 0)
    {
        Post(WM_MOUSEMOVE, keyFlags, x, y);
        Frame();
    }
    std::pair<int32_t, int32_t> Pos()
    {
        int32_t x = 0, y = 0;
        M().GetState(&x, &y, nullptr);
        return {x, y};
    }
};

using XY = std::pair<int32_t, int32_t>;

TEST(MouseStart, FirstMoveIsIgnoredAndPositionStartsInTheMiddle)
{
    tvtest::Globals g(true);
    ASSERT_TRUE(g.ok);
    int32_t x = 0, y = 0;
    int8_t b = -1;
    EXPECT_TRUE(glb->mouse->GetState(&x, &y, &b));
    EXPECT_EQ(XY(x, y), XY(320, 240));
    EXPECT_EQ(b, 0);
    EXPECT_TRUE(glb->mouse->GetState(nullptr, nullptr, nullptr));
    EXPECT_EQ(glb->mouse->Init(), TRUE) << "a mouse, no screen yet: nothing changes";
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(10, 20)));
    xHandler();
    glb->mouse->GetState(&x, &y, nullptr);
    EXPECT_EQ(XY(x, y), XY(320, 240));
    ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, WM_MOUSEMOVE, 0, MAKELPARAM(11, 21)));
    xHandler();
    glb->mouse->GetState(&x, &y, nullptr);
    EXPECT_EQ(XY(x, y), XY(11, 21));
    EXPECT_EQ(g.Finish(), "");
}

TEST_F(Mouse, PositionIsThePointerLessThePicturesOffset)
{
    struct Case {
        int32_t addX, addY;
        int32_t px, py;
        XY pos;
    };
    const Case cases[] = {
        {0, 0, 100, 50, {100, 50}},   {8, 20, 100, 50, {92, 30}},
        {8, 20, 3, 4, {-5, -16}},     // left of and above the picture
        {0, 0, 320, 240, {320, 240}}, // the middle is a place like any other
        {0, 0, -7, 500, {-7, 500}},   // outside the window (a drag)
    };
    M().SetUpdateCallback(Record);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.px << "," << c.py);
        M().SetPos(1, 1);
        M().SetMouseAdd(c.addX, c.addY);
        g_calls.clear();
        Move(c.px, c.py);
        EXPECT_EQ(Pos(), c.pos);
        ASSERT_EQ(g_calls.size(), 1u);
        EXPECT_EQ(XY(g_calls[0].x, g_calls[0].y), c.pos);
    }
}

TEST_F(Mouse, ButtonSequencesSetWentDownAndWentUpBits)
{
    // A step posts a message, or (msg 0) checks GetBtnState and then the
    // state that a second GetBtnState sees.
    struct Step {
        uint32_t msg;
        uint32_t keyFlags;
        uint32_t state;
        uint32_t after;
    };
    constexpr uint32_t L = XMOUSE_LEFT, R = XMOUSE_RIGHT, M_ = XMOUSE_MIDDLE;
    constexpr uint32_t LD = XMOUSE_LEFT_WENTDOWN, LU = XMOUSE_LEFT_WENTUP;
    constexpr uint32_t RD = XMOUSE_RIGHT_WENTDOWN, RU = XMOUSE_RIGHT_WENTUP;
    constexpr uint32_t MD = XMOUSE_MIDDLE_WENTDOWN, MU = XMOUSE_MIDDLE_WENTUP;
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"left click between two reads",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 0, 0}, {WM_LBUTTONUP, 0, 0, 0}, {0, 0, LD | LU, 0}}},
        {"left held",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 0, 0}, {0, 0, L | LD, L}, {WM_LBUTTONUP, 0, 0, 0}, {0, 0, LU, 0}}},
        {"right click", {{WM_RBUTTONDOWN, MK_RBUTTON, 0, 0}, {WM_RBUTTONUP, 0, 0, 0}, {0, 0, RD | RU, 0}}},
        {"middle button by its own messages",
         {{WM_MBUTTONDOWN, MK_MBUTTON, 0, 0}, {0, 0, M_ | MD, M_}, {WM_MBUTTONUP, 0, 0, 0}, {0, 0, MU, 0}}},
        {"second press of a double click",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 0, 0},
          {WM_LBUTTONUP, 0, 0, 0},
          {0, 0, LD | LU, 0},
          {WM_LBUTTONDBLCLK, MK_LBUTTON, 0, 0},
          {WM_LBUTTONUP, 0, 0, 0},
          {0, 0, LD | LU, 0}}},
        {"right double click",
         {{WM_RBUTTONDBLCLK, MK_RBUTTON, 0, 0}, {0, 0, R | RD, R}, {WM_RBUTTONUP, 0, 0, 0}}},
        {"buttons seen on a move (pressed outside the window)",
         {{WM_MOUSEMOVE, MK_LBUTTON | MK_RBUTTON, 0, 0},
          {0, 0, L | R | LD | RD, L | R},
          {WM_MOUSEMOVE, 0, 0, 0},
          {0, 0, LU | RU, 0}}},
        {"chord: left held while right clicks",
         {{WM_LBUTTONDOWN, MK_LBUTTON, 0, 0},
          {WM_RBUTTONDOWN, MK_LBUTTON | MK_RBUTTON, 0, 0},
          {WM_RBUTTONUP, MK_LBUTTON, 0, 0},
          {0, 0, L | LD | RD | RU, L},
          {WM_LBUTTONUP, 0, 0, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Step& s : c.steps) {
            if (s.msg != 0) {
                Post(s.msg, s.keyFlags, 40, 30);
                Frame();
                continue;
            }
            int32_t state = -1;
            EXPECT_TRUE(M().GetBtnState(&state));
            EXPECT_EQ(static_cast<uint32_t>(state), s.state) << std::hex << state;
            EXPECT_TRUE(M().GetBtnState(&state));
            EXPECT_EQ(static_cast<uint32_t>(state), s.after) << std::hex << state;
        }
        int32_t rest = 0;
        M().GetBtnState(&rest);
        M().GetBtnState(&rest);
        EXPECT_EQ(rest, 0) << "case left a button down";
    }
    int8_t b = -1;
    Post(WM_LBUTTONDOWN, MK_LBUTTON, 5, 5);
    Frame();
    M().GetState(nullptr, nullptr, &b);
    EXPECT_EQ(b, static_cast<int8_t>(XMOUSE_LEFT)) << "the low byte: down bits only";
    Post(WM_LBUTTONUP, 0, 5, 5);
    Frame();
}

TEST_F(Mouse, RelativeModeGathersMotionAroundTheMiddle)
{
    M().NeedDelta(1);
    M().SetSensitivity(2.5f);
    M().SetPos(100, 100);
    struct Case {
        int32_t px, py;
        XY delta; // gathered since the last GetDelta, read after this move
        XY pos;
    };
    // Each move is read back at once except where the table gathers two.
    Move(330, 240);
    Move(320, 250);
    int32_t dx = 0, dy = 0;
    EXPECT_TRUE(M().GetDelta(&dx, &dy, nullptr));
    EXPECT_EQ(XY(dx, dy), XY(10, 10)) << "motion gathers until read; sensitivity does not scale it";
    EXPECT_EQ(Pos(), XY(110, 110));
    EXPECT_EQ(M().GetSensitivity(), 2.5f);
    M().GetDelta(&dx, &dy, nullptr);
    EXPECT_EQ(XY(dx, dy), XY(0, 0)) << "read once";

    const Case cases[] = {
        {320, 240, {0, 0}, {110, 110}}, // at the middle: no motion
        {300, 200, {-20, -40}, {90, 70}},
        {0, 479, {-320, 239}, {-230, 309}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.px << "," << c.py);
        Move(c.px, c.py);
        M().GetDelta(&dx, &dy, nullptr);
        EXPECT_EQ(XY(dx, dy), c.delta);
        EXPECT_EQ(Pos(), c.pos);
    }
    Move(321, 241);
    M().SetPos(5, 6);
    M().GetDelta(&dx, &dy, nullptr);
    EXPECT_EQ(XY(dx, dy), XY(0, 0)) << "SetPos discards gathered motion";
    EXPECT_EQ(Pos(), XY(5, 6));

    // Back to absolute positions: the pointer in the middle is a position too.
    M().NeedDelta(0);
    Move(320, 240);
    EXPECT_EQ(Pos(), XY(320, 240));
    EXPECT_EQ(M().mode, 0u);
}

TEST_F(Mouse, FullScreenTimerFollowsThePointerAsMessagesDo)
{
    tvp::TestSetManualClock(true, 1000);
    M().SetMouseAdd(10, 20);
    M().SetUpdateCallback(Record);
    M().SetWindowKind(0);
    EXPECT_EQ(M().mode, static_cast<uint32_t>(XMOUSE_FULLSCREEN));
    Frame(); // the timer joins
    ASSERT_TRUE(tvp::WarpMouse(sglb->mainWindow, 200, 100));
    int32_t px = 0, py = 0;
    ASSERT_TRUE(tvp::GetMousePos(sglb->mainWindow, px, py));
    ASSERT_EQ(XY(px, py), XY(200, 100)) << "the window system keeps the pointer";
    Frame(); // whatever the move told
    M().SetPos(0, 0);
    g_calls.clear();
    tvp::TestAdvanceClock(20);
    Frame();
    EXPECT_EQ(Pos(), XY(190, 80)) << "the timer maps the pointer as the messages do";
    EXPECT_FALSE(g_calls.empty());
    M().SetPos(0, 0);
    Move(200, 100);
    EXPECT_EQ(Pos(), XY(190, 80));

    // In relative mode the messages alone move the mouse.
    M().NeedDelta(1);
    M().SetPos(50, 50);
    tvp::TestAdvanceClock(20);
    Frame();
    EXPECT_EQ(Pos(), XY(50, 50));
    M().NeedDelta(0);

    // Back in a window the timer stops.
    M().SetWindowKind(1);
    EXPECT_EQ(M().mode, 0u);
    M().SetPos(1, 2);
    tvp::TestAdvanceClock(100);
    Frame();
    EXPECT_EQ(Pos(), XY(1, 2));
}

// A 16-bit bitmap of three 8 x 8 frames side by side on a key-coloured ground.
CBitmap* MakeFrames()
{
    CBitmap* b = XNEW(CBitmap);
    if (!b->CreateRGB(24, 8, 16, 5, 6, 5, 11, 5, 0, 0))
        return b;
    TRGBA key{255, 0, 255, 0}, ink{10, 200, 30, 0};
    b->Fill(&key);
    for (int32_t f = 0; f < 3; ++f)
        b->PutPixel(f * 8 + 3, 3, &ink);
    return b;
}

TEST_F(Mouse, CursorListIdsFramesAndSelection)
{
    CBitmap* bitmap = MakeFrames();
    const TPoint three[] = {{0, 0}, {8, 0}, {16, 0}, {-1, -1}};
    const TPoint endsAtSecond[] = {{0, 0}, {-1, 0}, {8, 0}, {-1, -1}};
    const TPoint empty[] = {{0, -1}};
    struct Case {
        const TPoint* frames;
        int32_t w, h;
        int32_t frameCount;
        int32_t width, height;
    };
    const Case cases[] = {
        {three, 8, 8, 3, 8, 8},
        {endsAtSecond, 8, 8, 1, 8, 8},
        {nullptr, 0, 0, 1, 24, 8}, // no list: the whole bitmap is one frame
        {empty, 0, 8, 1, 24, 8},
    };
    uint32_t expectId = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(expectId);
        const uint32_t id = M().AllocCursor(bitmap, c.frames, c.w, c.h, 3, 4);
        ASSERT_EQ(id, expectId++);
        const SMouseCursor* cur = static_cast<SMouseCursor*>(M().cursors.Get(M().cursors.GetNumNodes() - 1));
        ASSERT_NE(cur, nullptr);
        EXPECT_EQ(cur->id, id);
        EXPECT_EQ(cur->frameCount, c.frameCount);
        EXPECT_EQ(XY(cur->width, cur->height), XY(c.width, c.height));
        EXPECT_EQ(cur->flags & XCURSOR_SHOWN, 0u) << "in a window the library draws no cursor";
    }
    ASSERT_NE(M().current, nullptr);
    EXPECT_EQ(M().current->id, 1u) << "the first cursor is current";
    EXPECT_EQ(M().AllocCursor(static_cast<CBitmap*>(nullptr), three, 8, 8, 0, 0), 0u);

    // Full-screen selection: one cursor shown, its frame set, animation stopped.
    M().SetWindowKind(0);
    M().StartAnim(1, 1, 3.0f);
    EXPECT_EQ(M().current->animStatus, 1);
    EXPECT_EQ(M().current->frameDelay, 3);
    EXPECT_EQ(M().current->flags & XCURSOR_ANIM_MASK, 1u);
    M().ClearSetCursorCalled();
    M().SetCursor(2, 0);
    M().SetCursor(1, 2);
    EXPECT_TRUE(M().SetCursorCalled());
    EXPECT_EQ(M().current->id, 1u);
    EXPECT_EQ(M().current->frame, 2);
    EXPECT_EQ(M().current->animStatus, 0);
    M().SetCursor(1, 7); // beyond the frames: the frame stays
    EXPECT_EQ(M().current->frame, 2);
    int shown = 0;
    for (M().cursors.First(); M().cursors.Exists(); M().cursors.Next())
        shown += (static_cast<SMouseCursor*>(M().cursors.Get())->flags & XCURSOR_SHOWN) ? 1 : 0;
    EXPECT_EQ(shown, 1);
    // The picture sits at the position less the hot spot.
    M().SetPos(100, 50);
    EXPECT_EQ(XY(M().current->x, M().current->y), XY(97, 46));
    M().StopAnim();

    EXPECT_TRUE(M().FreeCursor(1));
    EXPECT_FALSE(M().FreeCursor(1));
    EXPECT_EQ(M().current, nullptr);
    EXPECT_EQ(M().AllocCursor(bitmap, three, 8, 8, 0, 0), 5u) << "ids are not reused";
    EXPECT_EQ(M().current->id, 5u);
    M().FreeAllCursors();
    EXPECT_EQ(M().cursors.GetNumNodes(), 0);
    EXPECT_EQ(M().current, nullptr);
    M().SetWindowKind(1);
    XDELETE(bitmap);
}

TEST_F(Mouse, WindowCursorsWithoutACursorDriver)
{
    // The offscreen driver has no cursors: every choice is taken calmly.
    CBitmap* bitmap = MakeFrames();
    const uint32_t id = M().AllocCursor(bitmap, nullptr, 8, 8, 0, 0);
    ASSERT_NE(id, 0u);
    for (uint32_t which : {1u, 2u, 3u, 99u, id}) {
        M().ClearSetCursorCalled();
        M().SetCursor(which, 0);
        EXPECT_TRUE(M().SetCursorCalled());
        EXPECT_EQ(M().current->flags & XCURSOR_SHOWN, 0u);
    }
    M().SetFingerResourceId(id);
    M().ShowCursor(0);
    XDELETE(bitmap);
}

TEST_F(Mouse, CursorFromAPictureFileOwnsItsBitmap)
{
    CBitmap* bitmap = MakeFrames();
    ASSERT_TRUE(bitmap->Save("cursor.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
    XDELETE(bitmap);
    const TPoint two[] = {{0, 0}, {8, 0}, {-1, -1}};
    const uint32_t id = M().AllocCursor("cursor.bmp", two, 8, 8, 1, 1);
    ASSERT_NE(id, 0u);
    EXPECT_EQ(M().current->frameCount, 2);
    EXPECT_EQ(M().current->bitmap->width, 24);

    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    EXPECT_EQ(M().AllocCursor("missing.bmp", two, 8, 8, 0, 0), 0u);
    EXPECT_EQ(M().AllocCursor(static_cast<const char*>(nullptr), two, 8, 8, 0, 0), 0u);
    xSetDprintfOutput(nullptr);
    EXPECT_NE(tvtest::Trace().find("Failed to convert bitmap, Mouse pointer\n"), std::string::npos);
    // The bitmap goes with the cursor (the fixture checks the leak list).
}

TEST_F(Mouse, DeltaHandlersGetIncreasingIds)
{
    int32_t id = 0;
    for (int32_t want = 1; want <= 3; ++want) {
        EXPECT_TRUE(M().GetDeltaHandler(&id));
        EXPECT_EQ(id, want);
    }
    EXPECT_FALSE(M().GetDeltaHandler(nullptr));
    EXPECT_EQ(M().deltaHandlers.GetNumNodes(), 3);
    M().Exit();
    EXPECT_EQ(M().deltaHandlers.GetNumNodes(), 0);
}

TEST_F(Mouse, ActivationRecentresThePointerInRelativeMode)
{
    ASSERT_TRUE(tvp::WarpMouse(sglb->mainWindow, 10, 10));
    Frame();
    M().NeedDelta(1);
    Post(WM_ACTIVATEAPP, 1, 0, 0);
    Frame();
    int32_t px = 0, py = 0;
    ASSERT_TRUE(tvp::GetMousePos(sglb->mainWindow, px, py));
    EXPECT_EQ(XY(px, py), XY(320, 240));
    int32_t dx = 1, dy = 1;
    M().GetDelta(&dx, &dy, nullptr);
    EXPECT_EQ(XY(dx, dy), XY(0, 0)) << "moving the pointer back is no motion";
}

// In full-screen modes a cursor is a sprite: it is shown when chosen, follows
// the mouse less its hot spot, animates when started and goes with the
// cursor. The screen's window kind reaches the mouse through Init, and the
// picture's offset in the window through SetMouseAdd.
TEST_F(Mouse, SpriteCursorsAndTheScreensMode)
{
    CDibScreen* screen = sglb->dibScreen;
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(screen->InitModeRez(640, 480, 16, XVMODE_WINDOW));
    EXPECT_TRUE(M().Init());
    EXPECT_EQ(M().mode & XMOUSE_FULLSCREEN, 0u);
    EXPECT_EQ(XY(M().addX, M().addY), XY(screen->offsetX, screen->offsetY));

    CBitmap* bitmap = MakeFrames();
    ASSERT_TRUE(screen->MakeScreenBitmap(bitmap, 0));
    const TPoint three[] = {{0, 0}, {8, 0}, {16, 0}, {-1, -1}};
    const uint32_t id = M().AllocCursor(bitmap, three, 8, 8, 2, 3);
    ASSERT_NE(id, 0u);
    CSprite* sprite = M().current->sprite;
    ASSERT_NE(sprite, nullptr);
    EXPECT_EQ(sprite->frameCount, 3);
    EXPECT_TRUE(sprite->CheckBaseFlag(XSPRITE_SAVEEARLY));
    EXPECT_FALSE(sprite->CheckBaseFlag(XSPRITE_VISIBLE)) << "in a window the system shows the cursor";
    EXPECT_EQ(sprite->frameDelay, 20);
    EXPECT_EQ(sprite->drawFlags, XBLT_COLORKEY);
    Frame();
    EXPECT_EQ(sprite->drawn[0], 0);

    M().SetWindowKind(XVMODE_FULLSCREEN);
    M().SetCursor(id, 1);
    EXPECT_TRUE(sprite->CheckBaseFlag(XSPRITE_VISIBLE));
    EXPECT_EQ(sprite->GetCurrentFrame(), 1);
    M().SetPos(100, 50);
    EXPECT_EQ(XY(sprite->GetPositionX(), sprite->GetPositionY()), XY(98, 47));
    ASSERT_TRUE(screen->FlipPage());
    EXPECT_EQ(sprite->drawn[0], 1);
    const CRect& r = sprite->restoreRect[0];
    EXPECT_EQ(std::vector<int32_t>({r.left, r.top, r.right, r.bottom}),
              std::vector<int32_t>({98, 47, 105, 54}));
    ASSERT_TRUE(screen->ClearBuffer());
    EXPECT_EQ(sprite->GetCurrentFrame(), 1) << "stopped until started";

    M().StartAnim(0, XSPRITE_LOOP, 1.0f);
    EXPECT_EQ(sprite->GetAnimationStatus(), XSPRITE_FORWARD);
    EXPECT_EQ(sprite->frameDelay, 1);
    std::vector<int32_t> shown;
    for (int32_t i = 0; i < 6; ++i) {
        shown.push_back(sprite->GetCurrentFrame());
        Frame();
    }
    EXPECT_EQ(shown, (std::vector<int32_t>{1, 1, 2, 2, 0, 0}));
    M().StopAnim();
    EXPECT_EQ(sprite->GetAnimationStatus(), XSPRITE_STOPPED);

    // Back in a window: hidden again.
    M().SetWindowKind(XVMODE_WINDOW);
    EXPECT_FALSE(sprite->CheckBaseFlag(XSPRITE_VISIBLE));
    EXPECT_TRUE(M().FreeCursor(id)); // the sprite goes with it (leak list)

    // A desktop-sized window: the library draws cursors; the picture sits
    // in the window's middle.
    ASSERT_TRUE(screen->InitModeRez(640, 480, 16, XVMODE_DESKTOP));
    EXPECT_TRUE(M().Init());
    EXPECT_NE(M().mode & XMOUSE_FULLSCREEN, 0u);
    EXPECT_EQ(XY(M().addX, M().addY), XY(screen->offsetX, screen->offsetY));
    ASSERT_TRUE(screen->ExitMode());
    M().SetWindowKind(XVMODE_WINDOW);
    XDELETE(bitmap);
}

// A cursor picture loaded from a file takes the current screen's format.
TEST_F(Mouse, CursorFileTakesTheScreensFormat)
{
    CBitmap* bitmap = MakeFrames();
    ASSERT_TRUE(bitmap->Save("cursor.bmp", nullptr, nullptr, nullptr, 0)) << tvtest::LastError();
    XDELETE(bitmap);
    for (int32_t bits : {8, 24}) {
        ASSERT_TRUE(sglb->dibScreen->InitModeRez(640, 480, bits, XVMODE_WINDOW));
        const uint32_t id = M().AllocCursor("cursor.bmp", nullptr, 8, 8, 0, 0);
        ASSERT_NE(id, 0u);
        EXPECT_EQ(M().current->bitmap->bits, bits);
        EXPECT_TRUE(M().FreeCursor(id));
    }
    ASSERT_TRUE(sglb->dibScreen->ExitMode());
}

// Opening a mode is enough: the mouse takes the new mode's window kind and
// the picture's place in the window without the program calling Init.
TEST_F(Mouse, FollowsEveryModeChangeByItself)
{
    int32_t dw = 0, dh = 0, depth = 0;
    ASSERT_TRUE(tvp::DesktopMode(dw, dh, depth));
    struct Case {
        const char* name;
        bool fullScreenScreen;
        int32_t kind;
        bool libraryCursor;
    };
    const Case cases[] = {
        {"a window of the mode's size", false, XVMODE_WINDOW, false},
        {"a desktop-sized window", false, XVMODE_DESKTOP, true},
        {"full screen", true, XVMODE_FULLSCREEN, true},
        {"back in a window", false, XVMODE_WINDOW, false},
    };
    CScreenBase* last = nullptr;
    for (const Case& c : cases) {
        CScreenBase* s = c.fullScreenScreen ? static_cast<CScreenBase*>(sglb->dxScreen) : sglb->dibScreen;
        ASSERT_NE(s, nullptr) << c.name;
        if (last != nullptr && last != s)
            last->ExitMode();
        last = s;
        s->ModeFirst();
        if (!s->ModeExists())
            s->GetVideoModes(); // a screen forgets its modes when it leaves one
        ASSERT_TRUE(s->InitModeRez(c.fullScreenScreen ? dw : 640, c.fullScreenScreen ? dh : 480, 16, c.kind))
            << c.name << ": " << tvtest::LastError();
        EXPECT_EQ((M().mode & XMOUSE_FULLSCREEN) != 0, c.libraryCursor) << c.name;
        const XY offset = c.fullScreenScreen ? XY(sglb->dxScreen->offsetX, sglb->dxScreen->offsetY)
                                             : XY(sglb->dibScreen->offsetX, sglb->dibScreen->offsetY);
        EXPECT_EQ(XY(M().addX, M().addY), offset) << c.name;
    }
    last->ExitMode();
}

std::vector<XY> g_told;

// The screens reach the mouse only through the table the input fills: a
// screen tells whatever sits in the slot, and an empty slot is skipped.
TEST_F(Mouse, ScreensReachTheMouseThroughTheirHookTable)
{
    const SScreenInputHooks saved = g_screenInputHooks;
    g_told.clear();
    g_screenInputHooks.setMouseAdd = [](int32_t x, int32_t y) { g_told.push_back(XY(x, y)); };
    g_screenInputHooks.followMode = nullptr;
    M().SetMouseAdd(5, 6);
    CDibScreen* s = sglb->dibScreen;
    const bool opened = s->InitModeRez(640, 480, 16, XVMODE_DESKTOP) == TRUE;
    g_screenInputHooks = saved;
    ASSERT_TRUE(opened);
    ASSERT_FALSE(g_told.empty());
    EXPECT_EQ(g_told.back(), XY(s->offsetX, s->offsetY));
    EXPECT_EQ(XY(M().addX, M().addY), XY(5, 6));
    EXPECT_EQ(M().mode & XMOUSE_FULLSCREEN, 0u) << "the mode change went to an empty slot";
    s->ExitMode();
}

} // namespace
