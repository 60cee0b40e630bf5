// Sprites on the windowed screen (SDL's offscreen driver): frame lists,
// the animation modes and frame delays flip by flip through xHandler on the
// test clock, the setters' ranges, a new size, sprites without a screen, and
// pixels: sprites moving and animating over a background leave no trails at
// 8, 16 and 24 bits (each flipped picture is the background plus the
// sprites' current frames; each clear gives the background back).
#include "screen_util.h"

#include <tarvex/sprite.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using tvtest::MatchesGolden;
using tvtest::WindowShowsBuffer;

constexpr int32_t kFrame = 16;

class SpriteTest : public tvtest::ScreenTest
{
  protected:
    void SetUp() override
    {
        tvtest::ScreenTest::SetUp();
        tvp::TestSetManualClock(true, 1000);
        SetMinimumFrameTime(16);
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        tvtest::ScreenTest::TearDown();
    }
    // Four 16 x 16 frames side by side: a magenta key around a disc of the
    // frame's own colour with a dark mark that tells the frames apart.
    static void MakeSheet(CBitmap& b)
    {
        ASSERT_TRUE(b.CreateRGB(4 * kFrame, kFrame, 24, 8, 8, 8, 16, 8, 0, 0));
        const TRGBA colours[4] = {TRGBA(250, 60, 40), TRGBA(40, 220, 60), TRGBA(60, 80, 250),
                                  TRGBA(240, 230, 30)};
        for (int32_t f = 0; f < 4; ++f)
            for (int32_t y = 0; y < kFrame; ++y)
                for (int32_t x = 0; x < kFrame; ++x) {
                    const int32_t dx = x - 8, dy = y - 8;
                    TRGBA c = dx * dx + dy * dy < 49 ? colours[f] : TRGBA(255, 0, 255);
                    if (y == 8 && x >= 2 + f * 3 && x < 5 + f * 3)
                        c = TRGBA(10, 10, 10);
                    b.PutPixel(f * kFrame + x, y, &c);
                }
    }
    // Sends one frame through the library: flip (save, draw), then clear
    // (restore).
    static void Frame() { ASSERT_EQ(xHandler(), 0); }
};

const TPoint kFour[] = {{0, 0}, {16, 0}, {32, 0}, {48, 0}, {-1, -1}};

TEST_F(SpriteTest, FrameListEndsAtTheFirstMinusOne)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CBitmap sheet;
    MakeSheet(sheet);
    struct Case {
        std::vector<TPoint> list;
        int32_t frames;
    };
    const Case cases[] = {
        {{{0, 0}, {16, 0}, {-1, 0}, {32, 0}, {-1, -1}}, 2}, // x of -1 ends it
        {{{0, 0}, {16, -1}}, 1},                            // so does a y of -1
        {{{-1, -1}}, 1},                                    // empty: one frame at (0, 0)
        {{{0, 0}, {16, 0}, {32, 0}, {48, 0}, {-1, -1}}, 4},
    };
    for (const Case& c : cases) {
        CSprite s;
        ASSERT_TRUE(s.Create(&sheet, c.list.data(), kFrame, kFrame, 0, 0, 0, 0, XBLT_COLORKEY));
        EXPECT_EQ(s.frameCount, c.frames);
        EXPECT_EQ(s.frames[0].x, 0);
    }
    CSprite whole;
    ASSERT_TRUE(whole.Create(&sheet, nullptr, 0, 0, 5, 6, 0, 0, 0));
    EXPECT_EQ(whole.frameCount, 1);
    EXPECT_EQ(whole.GetWidth(), 4 * kFrame);
    EXPECT_EQ(whole.GetHeight(), kFrame);
    EXPECT_TRUE(whole.CheckBaseFlag(XSPRITE_VISIBLE));
    CSprite none;
    EXPECT_FALSE(none.Create(nullptr, kFour, 0, 0, 0, 0, 0, 0, 0));
}

// The frame drawn at each flip, by mode, frame count, delay and start.
TEST_F(SpriteTest, ModeFrameAndDelaySequences)
{
    ASSERT_TRUE(Open(640, 480, 16));
    CBitmap sheet;
    MakeSheet(sheet);
    struct Case {
        const char* name;
        uint32_t mode;
        int32_t frames;
        int32_t delay;
        int32_t status; // -1: as created
        int32_t start;  // frame set before the first flip
        std::vector<int32_t> shown;
        int32_t endStatus;
    };
    const std::vector<Case> cases = {
        {"loop", XSPRITE_LOOP, 3, 0, -1, 0, {0, 1, 2, 0, 1, 2, 0, 1}, XSPRITE_FORWARD},
        {"once", XSPRITE_ONCE, 3, 0, -1, 0, {0, 1, 2, 2, 2, 2}, XSPRITE_STOPPED},
        {"once, rewind", XSPRITE_ONCE_REWIND, 3, 0, -1, 0, {0, 1, 2, 0, 0, 0}, XSPRITE_STOPPED},
        {"ping-pong", XSPRITE_PINGPONG, 3, 0, -1, 0, {0, 1, 2, 1, 0, 1, 2, 1, 0}, XSPRITE_FORWARD},
        {"ping-pong once", XSPRITE_PINGPONG_ONCE, 3, 0, -1, 0, {0, 1, 2, 1, 0, 0, 0}, XSPRITE_STOPPED},
        {"delay 2", XSPRITE_LOOP, 3, 2, -1, 0, {0, 0, 0, 1, 1, 1, 2, 2, 2, 0}, XSPRITE_FORWARD},
        {"delay 1, once", XSPRITE_ONCE, 2, 1, -1, 0, {0, 0, 1, 1, 1}, XSPRITE_STOPPED},
        {"no mode: still", 0, 3, 0, -1, 0, {0, 0, 0}, XSPRITE_STOPPED},
        // A started animation without a mode bit loops (cursors).
        {"no mode, started", 0, 3, 0, XSPRITE_FORWARD, 0, {0, 1, 2, 0, 1}, XSPRITE_FORWARD},
        // One frame never leaves frame 0, whatever the mode.
        {"one frame, loop", XSPRITE_LOOP, 1, 0, -1, 0, {0, 0, 0}, XSPRITE_FORWARD},
        {"one frame, ping-pong", XSPRITE_PINGPONG, 1, 0, -1, 0, {0, 0, 0, 0}, XSPRITE_FORWARD},
        {"one frame, ping-pong once", XSPRITE_PINGPONG_ONCE, 1, 0, -1, 0, {0, 0, 0}, XSPRITE_STOPPED},
        {"one frame, backward", XSPRITE_LOOP, 1, 0, XSPRITE_BACKWARD, 0, {0, 0, 0}, XSPRITE_BACKWARD},
        // Backward play stays in the list.
        {"loop backward", XSPRITE_LOOP, 3, 0, XSPRITE_BACKWARD, 2, {2, 1, 0, 2, 1}, XSPRITE_BACKWARD},
        {"once backward", XSPRITE_ONCE, 3, 0, XSPRITE_BACKWARD, 1, {1, 0, 0, 0}, XSPRITE_STOPPED},
        {"ping-pong from the end",
         XSPRITE_PINGPONG,
         4,
         0,
         XSPRITE_BACKWARD,
         3,
         {3, 2, 1, 0, 1, 2, 3, 2},
         XSPRITE_BACKWARD},
        {"stopped", XSPRITE_LOOP, 3, 0, XSPRITE_STOPPED, 1, {1, 1, 1}, XSPRITE_STOPPED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TPoint> list(kFour, kFour + c.frames);
        list.push_back(TPoint{-1, -1});
        CSprite s;
        ASSERT_TRUE(s.Create(&sheet, list.data(), kFrame, kFrame, 40, 30, c.mode, c.delay, XBLT_COLORKEY));
        if (c.status >= 0)
            s.SetAnimationStatus(c.status);
        s.SetCurrentFrame(c.start);
        std::vector<int32_t> shown;
        for (size_t i = 0; i < c.shown.size(); ++i) {
            shown.push_back(s.GetCurrentFrame());
            Frame();
            ASSERT_GE(s.GetCurrentFrame(), 0);
            ASSERT_LT(s.GetCurrentFrame(), c.frames);
        }
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(s.GetAnimationStatus(), c.endStatus);
    }
}

TEST_F(SpriteTest, SettersIgnoreValuesOutOfRange)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CBitmap sheet;
    MakeSheet(sheet);
    CSprite s;
    ASSERT_TRUE(s.Create(&sheet, kFour, kFrame, kFrame, 10, 20, XSPRITE_LOOP, 3, XBLT_COLORKEY));
    struct Case {
        const char* name;
        void (*apply)(CSprite&);
        int32_t frame, delay, status;
    };
    const Case cases[] = {
        {"frame 3", [](CSprite& t) { t.SetCurrentFrame(3); }, 3, 3, 1},
        {"frame 4", [](CSprite& t) { t.SetCurrentFrame(4); }, 3, 3, 1},
        {"frame -1", [](CSprite& t) { t.SetCurrentFrame(-1); }, 3, 3, 1},
        {"delay 0", [](CSprite& t) { t.SetFrameDelay(0); }, 3, 3, 1},
        {"delay -2", [](CSprite& t) { t.SetFrameDelay(-2); }, 3, 3, 1},
        {"delay 5", [](CSprite& t) { t.SetFrameDelay(5); }, 3, 5, 1},
        {"status 3", [](CSprite& t) { t.SetAnimationStatus(3); }, 3, 5, 1},
        {"status -1", [](CSprite& t) { t.SetAnimationStatus(-1); }, 3, 5, 1},
        {"status 2", [](CSprite& t) { t.SetAnimationStatus(2); }, 3, 5, 2},
        {"status 0", [](CSprite& t) { t.SetAnimationStatus(0); }, 3, 5, 0},
    };
    for (const Case& c : cases) {
        c.apply(s);
        EXPECT_EQ(s.GetCurrentFrame(), c.frame) << c.name;
        EXPECT_EQ(s.frameDelay, c.delay) << c.name;
        EXPECT_EQ(s.GetAnimationStatus(), c.status) << c.name;
    }
    s.SetRelativePosition(-15, 5);
    EXPECT_EQ(s.GetPositionX(), -5);
    EXPECT_EQ(s.GetPositionY(), 25);
    s.SetBaseFlag(XSPRITE_SAVEEARLY | 0x400);
    EXPECT_TRUE(s.CheckBaseFlag(0x400 | 0x800));
    s.ClearBaseFlag(0x400 | XSPRITE_VISIBLE);
    EXPECT_FALSE(s.CheckBaseFlag(0x400 | XSPRITE_VISIBLE));
    EXPECT_FALSE(s.CheckBaseFlag(XSPRITE_CLIPAREA));
    s.SetSpriteClipArea(CRect(1, 2, 3, 4));
    EXPECT_TRUE(s.CheckBaseFlag(XSPRITE_CLIPAREA));
}

// The save and draw steps at their priorities: the save before the screen's
// grey conversion, the draw after it for sprites that save early.
TEST_F(SpriteTest, RegistersItsStepsAtTheirPriorities)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CBitmap sheet;
    MakeSheet(sheet);
    const void* gone[2] = {};
    int32_t k = 0;
    for (uint32_t flags : {0u, static_cast<uint32_t>(XSPRITE_SAVEEARLY)}) {
        CSprite s;
        ASSERT_TRUE(s.Create(&sheet, kFour, kFrame, kFrame, 0, 0, flags, 0, 1));
        gone[k++] = &s;
        std::vector<std::pair<uint32_t, int32_t>> seen;
        for (glb->msgHandlers->First(); glb->msgHandlers->Exists(); glb->msgHandlers->Next()) {
            auto* e = static_cast<SMsgEntry*>(glb->msgHandlers->Get());
            if (e->object == &s)
                seen.emplace_back(e->msg, e->priority);
        }
        const int32_t draw = flags != 0 ? -103 : -101;
        EXPECT_EQ(seen, (std::vector<std::pair<uint32_t, int32_t>>{{3u, 100}, {2u, -100}, {2u, draw}}));
    }
    // The registrations go with the sprite.
    for (glb->msgHandlers->First(); glb->msgHandlers->Exists(); glb->msgHandlers->Next()) {
        const void* o = static_cast<SMsgEntry*>(glb->msgHandlers->Get())->object;
        EXPECT_TRUE(o != gone[0] && o != gone[1]);
    }
}

// Without a current screen a sprite saves, draws and steps nothing; once a
// screen opens it starts.
TEST_F(SpriteTest, WithoutAScreenNothingHappens)
{
    CBitmap sheet;
    MakeSheet(sheet);
    CSprite s;
    ASSERT_TRUE(s.Create(&sheet, kFour, kFrame, kFrame, 10, 10, XSPRITE_LOOP, 0, XBLT_COLORKEY));
    for (int32_t p = 0; p < XSCREEN_PAGES; ++p)
        EXPECT_EQ(s.restore[p], nullptr);
    SendMsg(XMSG_DRAW, 0, 0);
    SendMsg(XMSG_DRAW, 0, 0);
    SendMsg(XMSG_CLEAR, 0, 0);
    EXPECT_EQ(s.GetCurrentFrame(), 0);
    EXPECT_EQ(s.drawn[0], 0);
    s.SetSize(20, 20);
    EXPECT_EQ(s.restore[0], nullptr);

    ASSERT_TRUE(Open(640, 480, 16));
    Frame();
    EXPECT_EQ(s.GetCurrentFrame(), 1);
    ASSERT_NE(s.restore[0], nullptr);
    EXPECT_EQ(s.restore[0]->bits, 16);
}

// A new size makes new restore pictures: a larger sprite saves and puts back
// its whole area, in the screen's layout after a mode change too.
TEST_F(SpriteTest, SetSizeRemakesTheRestorePictures)
{
    ASSERT_TRUE(Open(640, 480, 24));
    CDibScreen* scr = Screen();
    CBitmap sheet;
    MakeSheet(sheet);
    scr->FillRect(0, 0, 320, 240, TRGBA(30, 90, 30));
    CSprite s;
    ASSERT_TRUE(s.Create(&sheet, kFour, kFrame, kFrame, 100, 100, 0, 0, XBLT_COLORKEY));
    Frame();
    CBitmap background(*scr->GetScreenBitmap());
    s.SetSize(2 * kFrame, kFrame);
    ASSERT_NE(s.restore[0], nullptr);
    EXPECT_EQ(s.restore[0]->width, 2 * kFrame);
    EXPECT_EQ(s.restore[0]->height, kFrame);
    for (int32_t i = 0; i < 3; ++i) {
        s.SetRelativePosition(7, 3);
        Frame();
    }
    EXPECT_EQ(std::memcmp(scr->GetScreenBitmap()->data, background.data,
                          static_cast<size_t>(background.pitch) * static_cast<size_t>(background.height)),
              0);
    // Another depth: the next save makes the picture in its layout.
    ASSERT_TRUE(Open(640, 480, 8));
    Frame();
    EXPECT_EQ(s.restore[0]->bits, 8);
    s.SetSize(0, 5); // ignored
    EXPECT_EQ(s.GetWidth(), 2 * kFrame);
}

// Sprites moving and animating over a picture for many flips: what each flip
// shows is the background with each sprite's drawn frame at its place (cut
// to the screen and to a clip area), and each clear gives the background
// back exactly.
TEST_F(SpriteTest, NoTrailsAtEachDepth)
{
    struct Case {
        int32_t bits;
        uint32_t golden;
    };
    const Case cases[] = {{8, 2463984630u}, {16, 2356261157u}, {24, 88851527u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        ASSERT_TRUE(Open(640, 480, c.bits));
        CDibScreen* scr = Screen();
        if (c.bits == 8) {
            CPalette pal;
            for (int32_t i = 0; i < 256; ++i)
                pal.colors[i] = TRGBA((i & 7) * 36, ((i >> 3) & 7) * 36, (i >> 6) * 85, 0);
            ASSERT_TRUE(scr->SetPalette(&pal));
        }
        // A background of stripes and a gradient, so that a trail shows.
        for (int32_t y = 0; y < 240; y += 8)
            scr->FillRect(0, y, 320, 8, TRGBA(static_cast<uint8_t>(y), 60, static_cast<uint8_t>(240 - y)));
        for (int32_t x = 0; x < 320; x += 20)
            scr->FillRect(x, 0, 4, 240, TRGBA(220, 220, static_cast<uint8_t>(x / 2)));
        Frame();
        CBitmap* section = scr->GetScreenBitmap();
        CBitmap background(*section);

        CBitmap sheet;
        MakeSheet(sheet);
        ASSERT_TRUE(scr->MakeScreenBitmap(&sheet, 0));
        struct Mover {
            int32_t x, y, dx, dy;
            uint32_t mode;
            int32_t delay;
        };
        Mover movers[] = {
            {10, 10, 3, 2, XSPRITE_LOOP, 0},
            {300, 20, 4, 3, XSPRITE_PINGPONG, 1},
            {-8, 100, 5, -1, XSPRITE_LOOP, 2},
            {150, 230, -3, -4, XSPRITE_ONCE, 0},
            {160, 120, -2, 1, XSPRITE_PINGPONG_ONCE, 0},
            {154, 116, 1, 1, XSPRITE_LOOP, 0}, // overlapping
        };
        const CRect clipArea(120, 60, 219, 179);
        std::vector<CSprite> sprites(std::size(movers));
        for (size_t i = 0; i < sprites.size(); ++i) {
            const Mover& m = movers[i];
            ASSERT_TRUE(
                sprites[i].Create(&sheet, kFour, kFrame, kFrame, m.x, m.y, m.mode, m.delay, XBLT_COLORKEY));
        }
        sprites[4].SetSpriteClipArea(clipArea);

        const size_t bytes = static_cast<size_t>(section->pitch) * static_cast<size_t>(section->height);
        for (int32_t n = 0; n < 40; ++n) {
            for (size_t i = 0; i < sprites.size(); ++i)
                sprites[i].SetRelativePosition(movers[i].dx, movers[i].dy);
            // The expected picture, from the frames about to be drawn, in
            // drawing order (registration order).
            CBitmap expected(background);
            for (CSprite& s : sprites) {
                const TPoint at = s.frames[s.GetCurrentFrame()];
                if (s.CheckBaseFlag(XSPRITE_CLIPAREA))
                    expected.bounds = clipArea;
                expected.Blt(&sheet, at.x, at.y, s.GetPositionX(), s.GetPositionY(), kFrame, kFrame,
                             XBLT_COLORKEY, 0, 0);
                expected.bounds.Set(0, 0, expected.width - 1, expected.height - 1);
            }
            ASSERT_TRUE(scr->FlipPage());
            ASSERT_EQ(std::memcmp(section->data, expected.data, bytes), 0)
                << "flip " << n << ": " << tvtest::WriteBmp("sprites_flip", *section, &scr->palette);
            if (n == 39) {
                EXPECT_TRUE(WindowShowsBuffer(scr, "sprites" + std::to_string(c.bits)));
                EXPECT_TRUE(
                    MatchesGolden("sprites" + std::to_string(c.bits), *section, &scr->palette, c.golden));
            }
            ASSERT_TRUE(scr->ClearBuffer());
            ASSERT_EQ(std::memcmp(section->data, background.data, bytes), 0)
                << "clear " << n << ": " << tvtest::WriteBmp("sprites_trail", *section, &scr->palette);
        }
        sprites.clear();
        ASSERT_TRUE(scr->ExitMode());
        ASSERT_TRUE(scr->GetVideoModes());
    }
}

} // namespace
