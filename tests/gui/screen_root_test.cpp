// What the screens ask of the GUI root, on the windowed and the full-screen
// screen alike: a palette change converts the root's default look to the
// new colours, the validate step makes the windows redraw where the picture
// was restored (and the windowed screen shows what they drew), and turning
// flipping back on makes every window redraw itself.
#include "../gfx/screen_util.h"

#include <tarvex/dxscreen.h>
#include <tarvex/window.h>

#include "platform/platform.h"

#include <string>
#include <vector>

namespace
{

class ScreenRoot : public tvtest::ScreenTest
{
  protected:
    void TearDown() override
    {
        for (CWindow* w : owned) {
            glb->rootWindow->RemoveWindow(w->id);
            w->Destroy();
            XDELETE(w);
        }
        owned.clear();
        if (open != nullptr)
            open->ExitMode();
        ScreenTest::TearDown();
    }
    // The windowed screen with a 640 x 480 window-kind mode, or the
    // full-screen screen with the desktop-sized mode; made current.
    CScreenBase* OpenScreen(bool fullScreen, int32_t bits)
    {
        if (open != nullptr)
            open->ExitMode();
        open = nullptr;
        if (!fullScreen)
            return open = Open(640, 480, bits) ? Screen() : nullptr;
        int32_t w = 0, h = 0, depth = 0;
        CDxScreen* dx = sglb->dxScreen;
        if (dx != nullptr && tvp::DesktopMode(w, h, depth) &&
            dx->InitModeRez(w, h, bits, XVMODE_FULLSCREEN) && glb->screen == dx)
            open = dx;
        return open;
    }
    CWindow* AddWindow(int32_t id, int32_t x, int32_t y)
    {
        auto* win = XNEW(CWindow);
        static char title[] = "Root";
        win->Create(id, title, x, y, 100, 60, XWIN_TITLEBAR | XWIN_FRAME);
        glb->rootWindow->AddWindow(win, nullptr, nullptr);
        owned.push_back(win);
        return win;
    }
    // The GUI's part of a flip: the screen's validate step, then drawing.
    void GuiDraws() { glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0); }
    static std::vector<int> Rgb(const CScreenBase* s, int32_t x, int32_t y)
    {
        CBitmap* b = const_cast<CScreenBase*>(s)->GetScreenBitmap();
        const TRGBA c = tvtest::PixelColor(*b, &s->palette, x, y);
        return {c.r, c.g, c.b};
    }
    std::vector<CWindow*> owned;
    CScreenBase* open = nullptr;
};

const bool kScreens[] = {false, true};
std::string Name(bool fullScreen) { return fullScreen ? "full screen" : "windowed"; }

// The look starts in 24 bits (no screen when the root is made); an 8-bit
// mode, and every later palette, converts it to the screen's colours.
TEST_F(ScreenRoot, PaletteChangeRemapsTheLook)
{
    CWinCtrl* root = glb->rootWindow;
    ASSERT_NE(root, nullptr);
    for (bool full : kScreens) {
        CScreenBase* s = OpenScreen(full, 8);
        ASSERT_NE(s, nullptr) << Name(full);
        for (CBitmap* b : {root->defCheck, root->defClose[0], root->defArrowDown[3]}) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->bits, 8) << Name(full);
            ASSERT_NE(b->palette, nullptr);
            EXPECT_EQ(b->palette->colors[200].g, s->palette.colors[200].g) << Name(full);
        }
        CPalette warm;
        for (int32_t i = 0; i < 256; ++i)
            warm.colors[i] = TRGBA(255, static_cast<uint8_t>(i), 0, 255);
        ASSERT_TRUE(s->SetPalette(&warm));
        for (CBitmap* b : {root->defCheck, root->defClose[0], root->defArrowDown[3]})
            for (int32_t i : {0, 77, 255})
                EXPECT_EQ(b->palette->colors[i].r, 255) << Name(full) << " entry " << i;
    }
}

// A picture drawn into the persistent bitmap over a window is restored onto
// the screen; the validate step hands that area to the root and the window
// draws itself over it again. The windowed screen also copies what was
// redrawn to the window.
TEST_F(ScreenRoot, WindowsRedrawWhereThePictureWasRestored)
{
    for (bool full : kScreens) {
        CScreenBase* s = OpenScreen(full, 16);
        ASSERT_NE(s, nullptr) << Name(full);
        ASSERT_TRUE(s->SetPersistentMode(1));
        CWindow* win = AddWindow(full ? 2 : 1, 10, 10); // covers (10, 10) - (109, 69)
        for (int32_t i = 0; i < 4; ++i)
            xHandler();
        GuiDraws();
        const std::vector<int> windowColour = Rgb(s, 40, 40);

        CBitmap red;
        ASSERT_TRUE(red.CreateRGB(50, 50, 24, 8, 8, 8, 16, 8, 0, 0));
        const TRGBA c(240, 0, 0);
        for (int32_t y = 0; y < 50; ++y)
            for (int32_t x = 0; x < 50; ++x)
                red.PutPixel(x, y, &c);
        ASSERT_TRUE(s->DrawBitmapPersistent(&red, 0, 0, 30, 30, -1, -1, 0, 0));
        // The full-screen screen's two pages restore it in turn.
        for (int32_t i = 0; i < (full ? 2 : 1); ++i) {
            xHandler();
            EXPECT_EQ(Rgb(s, 40, 40), std::vector<int>({240, 0, 0})) << Name(full) << ": restored";
            GuiDraws();
            EXPECT_EQ(Rgb(s, 40, 40), windowColour) << Name(full) << ": the window drew itself again";
            EXPECT_EQ(Rgb(s, 50, 75), std::vector<int>({240, 0, 0})) << Name(full) << ": beside the window";
            EXPECT_EQ(s->shadowCount[s->page], 0) << Name(full);
        }
        if (!full) {
            auto* dib = static_cast<CDibScreen*>(s);
            ASSERT_TRUE(dib->FlipPage());
            EXPECT_TRUE(tvtest::WindowShowsBuffer(dib, "screen_root_redraw"));
        }
        glb->rootWindow->RemoveWindow(win->id);
        s->SetPersistentMode(0);
    }
}

// Flipping turned back on: every window asks to be redrawn whole.
TEST_F(ScreenRoot, FlipTurnedOnRevalidatesTheWindows)
{
    for (bool full : kScreens) {
        CScreenBase* s = OpenScreen(full, 24);
        ASSERT_NE(s, nullptr) << Name(full);
        CWindow* win = AddWindow(full ? 4 : 3, 200, 100);
        xHandler();
        GuiDraws();
        ASSERT_EQ(s->shadowCount[s->page], 0);
        EXPECT_TRUE(s->SetFlipScreen(0));
        EXPECT_EQ(s->shadowCount[s->page], 0) << Name(full) << ": turning it off asks nothing";
        EXPECT_TRUE(s->SetFlipScreen(1));
        bool asked = false;
        for (int32_t i = 0; i < s->shadowCount[s->page]; ++i)
            asked = asked || s->shadowAreas[s->page][i].IsEqual(&win->screenRect);
        EXPECT_TRUE(asked) << Name(full);
        EXPECT_GT(win->FrameCntrl()->clipCount, 0) << Name(full);
        EXPECT_TRUE(s->SetFlipScreen(1)) << "unchanged";
        glb->rootWindow->RemoveWindow(win->id);
    }
}

} // namespace
