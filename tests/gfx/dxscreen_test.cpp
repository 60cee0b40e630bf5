// The full-screen screen on SDL's offscreen driver: its mode table, the two
// pages after the clear step, screen-bitmap surfaces against the software
// copy, lost pages repainted from the persistent picture, and the flip's
// page bookkeeping.
#include "screen_util.h"

#include <tarvex/dxscreen.h>

#include <string>

namespace
{

using tvtest::WriteBmp;

class DxScreenTest : public tvtest::ScreenTest
{
  protected:
    CDxScreen* Dx() { return sglb->dxScreen; }
    // The desktop-sized full-screen mode of that depth, made current.
    bool OpenDx(int32_t bits)
    {
        int32_t w = 0, h = 0, depth = 0;
        return Dx() != nullptr && tvp::DesktopMode(w, h, depth) &&
               Dx()->InitModeRez(w, h, bits, XVMODE_FULLSCREEN) == TRUE && glb->screen == Dx();
    }
};

// Bytes that differ from pixel to pixel, line to line and seed to seed.
void FillPattern(CBitmap& b, uint32_t seed)
{
    for (int32_t y = 0; y < b.height; ++y)
        for (int32_t i = 0; i < b.width * b.bytesPerPixel; ++i)
            b.data[y * b.pitch + i] = static_cast<uint8_t>((i * 7 + y * 13 + seed * 29 + (i * y) / 5) & 0xFF);
}

// Pixel for pixel equality of two pictures of one layout; both are written
// as BMPs on a mismatch.
::testing::AssertionResult SamePixels(const std::string& name, const CBitmap& a, const CBitmap& b,
                                      const CPalette* pal)
{
    if (a.width != b.width || a.height != b.height || a.bytesPerPixel != b.bytesPerPixel)
        return ::testing::AssertionFailure() << name << ": sizes differ";
    for (int32_t y = 0; y < a.height; ++y)
        if (std::memcmp(a.data + y * a.pitch, b.data + y * b.pitch,
                        static_cast<size_t>(a.width) * static_cast<size_t>(a.bytesPerPixel)) != 0)
            return ::testing::AssertionFailure()
                   << name << ": first difference in line " << y << "; pictures in "
                   << WriteBmp(name + "-got", a, pal) << " and " << WriteBmp(name + "-want", b, pal);
    return ::testing::AssertionSuccess();
}

// The mode table: every display size offers 8, 16 (5-6-5) and 24-bit modes
// of the full-screen kind, and nothing else.
TEST_F(DxScreenTest, ModeTableOffersTheThreeDepthsOfEachSize)
{
    ASSERT_NE(Dx(), nullptr);
    int32_t count[3] = {};
    for (Dx()->ModeFirst(); Dx()->ModeExists(); Dx()->ModeNext()) {
        const SVmode* m = Dx()->ModeGet();
        EXPECT_EQ(m->windowKind, XVMODE_FULLSCREEN);
        EXPECT_EQ(m->modeNumber, -1);
        switch (m->bitsPerPixel) {
        case 8:
            ++count[0];
            EXPECT_EQ(m->palettized, 1);
            break;
        case 16:
            ++count[1];
            EXPECT_EQ(m->redShift, 11);
            EXPECT_EQ(m->greenBits, 6);
            break;
        case 24:
            ++count[2];
            EXPECT_EQ(m->redShift, 0);
            EXPECT_EQ(m->blueShift, 16);
            break;
        default:
            ADD_FAILURE() << "mode of " << m->bitsPerPixel << " bits listed";
        }
    }
    EXPECT_GT(count[0], 0);
    EXPECT_EQ(count[0], count[1]);
    EXPECT_EQ(count[0], count[2]);
    // The windowed screen stays the default: nothing is current before a mode is chosen.
    EXPECT_NE(glb->screen, Dx());
    EXPECT_EQ(Dx()->AddWindowVideoMode(640, 480, 16, -1), FALSE);
}

TEST_F(DxScreenTest, InitModeTakesTheDisplayAndExitModeGivesTheWindowBack)
{
    SDL_Window* win = tvp::SdlWindow(sglb->mainWindow);
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(OpenDx(bits)) << tvtest::LastError();
        const SVmode* m = Dx()->GetActiveMode();
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->bitsPerPixel, bits);
        // The active mode describes the page as it is, pitch included.
        EXPECT_EQ(m->pitch, Dx()->pages[0]->pitch);
        EXPECT_EQ(Dx()->IsFullScreen(), TRUE);
        EXPECT_EQ(Dx()->pageCount, 2);
        EXPECT_TRUE(Dx()->OkToDrawToScreen());
        EXPECT_NE(SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN, 0u);
        EXPECT_FALSE(tvp::IsCursorShown());
        // The mouse draws its own cursor on the whole display.
        EXPECT_NE(glb->mouse->mode & XMOUSE_FULLSCREEN, 0u);
        ASSERT_EQ(Dx()->ExitMode(), TRUE);
        EXPECT_EQ(SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN, 0u);
        EXPECT_EQ(glb->mouse->mode & XMOUSE_FULLSCREEN, 0u);
        EXPECT_EQ(Dx()->GetActiveMode(), nullptr);
        EXPECT_EQ(Dx()->pages[0], nullptr);
        EXPECT_NE(glb->screen, Dx());
        // The modes go with the mode, as on every screen; they are asked for again.
        ASSERT_EQ(Dx()->GetVideoModes(), TRUE);
    }
}

// Pages alternate on every flip; with the flip flag off the draw message is
// still sent but the page stays; an inactive screen only alternates.
TEST_F(DxScreenTest, FlipAlternatesThePagesAsTheFlagSays)
{
    ASSERT_TRUE(OpenDx(16));
    CBitmap* first = Dx()->GetScreenBitmap();
    EXPECT_EQ(Dx()->page, 0);
    EXPECT_EQ(Dx()->FlipPage(), TRUE);
    EXPECT_EQ(Dx()->page, 1);
    EXPECT_NE(Dx()->GetScreenBitmap(), first);
    EXPECT_EQ(Dx()->FlipPage(), TRUE);
    EXPECT_EQ(Dx()->GetScreenBitmap(), first);

    Dx()->SetFlipScreen(0);
    Dx()->greyRequest = 1; // acted on by the draw message
    EXPECT_EQ(Dx()->FlipPage(), TRUE);
    EXPECT_EQ(Dx()->page, 0);
    EXPECT_EQ(Dx()->greyRequest, 0);
    Dx()->SetFlipScreen(1);

    Dx()->DeActivate();
    EXPECT_EQ(Dx()->FlipPage(), FALSE);
    EXPECT_EQ(Dx()->page, 1);
}

// Frames drawn at moving places in persistent mode: two frames of clearing
// later, both pages hold exactly the persistent picture again.
TEST_F(DxScreenTest, BothPagesEqualThePersistentPictureAfterTheClears)
{
    for (int32_t bits : {8, 16, 24}) {
        SCOPED_TRACE(bits);
        ASSERT_TRUE(OpenDx(bits));
        ASSERT_TRUE(Dx()->SetPersistentMode(1));
        FillPattern(*Dx()->persistent, 1);
        Dx()->AddClearAreaPersistent(0, 0, Dx()->activeMode->width - 1, Dx()->activeMode->height - 1);
        CBitmap sprite;
        ASSERT_TRUE(bits == 8 ? sprite.CreateIndex(40, 30, 8, &Dx()->palette, 0)
                              : sprite.CreateRGB(40, 30, 24, 8, 8, 8, 0, 8, 16, 0));
        FillPattern(sprite, 7);
        ASSERT_TRUE(Dx()->MakeScreenFormat(&sprite, 0));
        for (int32_t frame = 0; frame < 5; ++frame) {
            Dx()->ClearBuffer();
            Dx()->DrawBitmapScreen(&sprite, 0, 0, 10 + frame * 50, 20 + frame * 7, -1, -1, 0, 0);
            Dx()->DrawBitmapScreen(&sprite, 0, 0, -15, -10, -1, -1, 0, 0); // cut by the screen's edge
            Dx()->FlipPage();
        }
        for (int32_t frame = 0; frame < 2; ++frame) {
            Dx()->ClearBuffer();
            Dx()->FlipPage();
        }
        const std::string name = "dx-clears-" + std::to_string(bits);
        EXPECT_TRUE(SamePixels(name + "-page0", *Dx()->pages[0], *Dx()->persistent, &Dx()->palette));
        EXPECT_TRUE(SamePixels(name + "-page1", *Dx()->pages[1], *Dx()->persistent, &Dx()->palette));
        ASSERT_EQ(Dx()->ExitMode(), TRUE);
        ASSERT_EQ(Dx()->GetVideoModes(), TRUE);
    }
}

// A screen bitmap (its own surface, copied by the window system's blitter)
// leaves the back page exactly as the software copy of the same pixels does,
// plain and colour-keyed, whole and cut at the edges.
TEST_F(DxScreenTest, ScreenBitmapBlitEqualsTheSoftwareBlit)
{
    struct Place {
        int32_t sx, sy, dx, dy, w, h;
    } places[] = {{0, 0, 30, 40, -1, -1}, {5, 3, -7, -4, 20, 20}, {0, 0, 1000000, 5, -1, -1}};
    for (int32_t bits : {8, 16, 24}) {
        ASSERT_TRUE(OpenDx(bits));
        CBitmap* back = Dx()->GetScreenBitmap();
        const int32_t w = Dx()->activeMode->width, h = Dx()->activeMode->height;
        places[2].dx = w - 20;
        places[2].dy = h - 10;
        CBitmap fast, soft;
        ASSERT_TRUE(bits == 8 ? fast.CreateIndex(48, 36, 8, &Dx()->palette, 0)
                              : fast.CreateRGB(48, 36, 24, 8, 8, 8, 0, 8, 16, 0));
        FillPattern(fast, 3);
        // The key (top-left pixel) appears all over the bitmap.
        for (int32_t y = 0; y < fast.height; y += 3)
            for (int32_t x = y % 5; x < fast.width; x += 5)
                std::memcpy(fast.data + y * fast.pitch + x * fast.bytesPerPixel, fast.data,
                            static_cast<size_t>(fast.bytesPerPixel));
        if (bits == 8)
            fast.data[0] = 5; // index 5 as the key
        for (int32_t y = 0; y < fast.height; y += 4)
            if (bits == 8)
                fast.data[y * fast.pitch + 1] = 5;
        soft = fast;
        ASSERT_TRUE(Dx()->MakeScreenBitmap(&fast, 0)) << tvtest::LastError();
        ASSERT_NE(fast.surface, nullptr);
        ASSERT_TRUE(Dx()->MakeScreenFormat(&soft, 0));
        CBitmap before;
        before = *back;
        for (const Place& p : places)
            for (int32_t flags : {0, static_cast<int32_t>(XBLT_COLORKEY)}) {
                SCOPED_TRACE(testing::Message() << bits << " bits, flags " << flags << " at " << p.dx);
                FillPattern(*back, 11);
                Dx()->DrawBitmapScreen(&fast, p.sx, p.sy, p.dx, p.dy, p.w, p.h, flags, 0);
                EXPECT_NE(fast.surface, nullptr) << "the screen bitmap lost its surface";
                CBitmap got;
                got = *back;
                FillPattern(*back, 11);
                Dx()->DrawBitmapScreen(&soft, p.sx, p.sy, p.dx, p.dy, p.w, p.h, flags, 0);
                EXPECT_TRUE(SamePixels("dx-blit-" + std::to_string(bits), got, *back, &Dx()->palette));
                if (bits == 8 && flags != 0 && p.dx == 30) {
                    // Every index-5 pixel of the bitmap left the page as it was.
                    FillPattern(before, 11);
                    for (int32_t y = 0; y < fast.height; ++y)
                        for (int32_t x = 0; x < fast.width; ++x)
                            if (fast.data[y * fast.pitch + x] == 5) {
                                ASSERT_EQ(got.data[(40 + y) * got.pitch + 30 + x],
                                          before.data[(40 + y) * before.pitch + 30 + x]);
                            }
                }
            }
        // Changed pixels are copied to the surface again before the next draw.
        FillPattern(fast, 4);
        FillPattern(soft, 4);
        fast.changed = soft.changed = 1; // both hold screen-format pixels already
        FillPattern(*back, 11);
        Dx()->DrawBitmapScreen(&fast, 0, 0, 30, 40, -1, -1, 0, 0);
        CBitmap got;
        got = *back;
        FillPattern(*back, 11);
        Dx()->DrawBitmapScreen(&soft, 0, 0, 30, 40, -1, -1, 0, 0);
        EXPECT_TRUE(SamePixels("dx-blit-changed-" + std::to_string(bits), got, *back, &Dx()->palette));
        fast.Free(); // its surface goes with it
        EXPECT_EQ(fast.surface, nullptr);
        ASSERT_EQ(Dx()->ExitMode(), TRUE);
        ASSERT_EQ(Dx()->GetVideoModes(), TRUE);
    }
}

// Pages the display took away are restored and repainted from the
// persistent picture: on the next flip, and on regaining the display.
TEST_F(DxScreenTest, LostPagesAreRepaintedFromThePersistentPicture)
{
    ASSERT_TRUE(OpenDx(16));
    ASSERT_TRUE(Dx()->SetPersistentMode(1));
    FillPattern(*Dx()->persistent, 2);
    Dx()->AddClearAreaPersistent(0, 0, Dx()->activeMode->width - 1, Dx()->activeMode->height - 1);
    for (int32_t frame = 0; frame < 2; ++frame) {
        Dx()->ClearBuffer();
        Dx()->FlipPage();
    }
    ASSERT_TRUE(SamePixels("dx-lost-start", *Dx()->pages[0], *Dx()->persistent, nullptr));

    Dx()->LoseSurfaces();
    ASSERT_NE(std::memcmp(Dx()->pages[0]->data, Dx()->persistent->data, 64), 0)
        << "the pages were not spoiled";
    EXPECT_EQ(Dx()->FlipPage(), TRUE);
    EXPECT_TRUE(Dx()->OkToDrawToScreen());
    EXPECT_TRUE(SamePixels("dx-lost-flip-page0", *Dx()->pages[0], *Dx()->persistent, nullptr));
    EXPECT_TRUE(SamePixels("dx-lost-flip-page1", *Dx()->pages[1], *Dx()->persistent, nullptr));

    // Away and back: the activation message validates both pages.
    tvp::SendMessage(sglb->mainWindow, WM_ACTIVATEAPP, 0, 0);
    EXPECT_EQ(Dx()->active, 0);
    Dx()->LoseSurfaces();
    tvp::SendMessage(sglb->mainWindow, WM_ACTIVATEAPP, 1, 0);
    EXPECT_EQ(Dx()->active, 1);
    EXPECT_EQ(Dx()->backLost, 0);
    EXPECT_EQ(Dx()->frontLost, 0);
    EXPECT_TRUE(SamePixels("dx-lost-away-page0", *Dx()->pages[0], *Dx()->persistent, nullptr));
    EXPECT_TRUE(SamePixels("dx-lost-away-page1", *Dx()->pages[1], *Dx()->persistent, nullptr));
}

// The polygon reports what it drew in the caller's record (nothing is
// allocated for it) and registers that rectangle for the clear step.
TEST_F(DxScreenTest, PolygonReportsItsRectangleWithoutAllocating)
{
    ASSERT_TRUE(OpenDx(16));
    ASSERT_TRUE(Dx()->SetPersistentMode(1));
    CBitmap tex;
    ASSERT_TRUE(tex.CreateRGB(16, 16, 16, 5, 6, 5, 11, 5, 0, 0));
    FillPattern(tex, 5);
    Dx()->SetTexture(&tex);
    Dx()->SetTextureCoords(0, 0, 15 << 16, 0, 15 << 16, 15 << 16, 0, 15 << 16);
    Dx()->SetPolygon(20, 20, 0, 120, 20, 0, 120, 100, 0, 20, 100, 0);
    CRect drawn(-1, -1, -1, -1);
    CRect* out = &drawn;
    ASSERT_EQ(Dx()->DrawPolygonScreen(out), TRUE);
    EXPECT_EQ(out, &drawn);
    EXPECT_GE(drawn.right, drawn.left);
    EXPECT_GE(drawn.bottom, drawn.top);
    EXPECT_GT(Dx()->clearCount[Dx()->page], 0);
    CRect* none = nullptr;
    EXPECT_EQ(Dx()->DrawShadowPolygonScreen(none), TRUE);
}

} // namespace
