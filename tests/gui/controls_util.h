// Helpers of the standard-control tests: a screen with the GUI root and one
// window whose callback records every notification, events fed to the
// window as its root would, and the committed font for pictures.
#pragma once

#include "../gfx/screen_util.h"

#include <tarvex/checkbox.h>

#include <string>
#include <vector>

namespace tvtest
{

struct Heard {
    int32_t msg, control;
    bool operator==(const Heard&) const = default;
};

// One input event for a window: a mouse message (x, y, buttons) or a key.
struct Ev {
    enum Kind { Mouse, Key } kind;
    int32_t a, b, c; // mouse: x, y, buttons; key: code, down
};
inline Ev M(int32_t x, int32_t y, int32_t buttons = 0) { return {Ev::Mouse, x, y, buttons}; }
inline Ev K(int32_t key, int32_t down) { return {Ev::Key, key, down, 0}; }

class ControlTest : public ScreenTest
{
  protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        ASSERT_NE(xCreateGuiRoot(), nullptr);
        heard = &log;
        log.clear();
        win = XNEW(CWindow);
        static char title[] = "Controls";
        win->Create(1, title, 0, 0, 300, 200, 0);
        glb->rootWindow->AddWindow(win, Record, nullptr);
    }
    void TearDown() override
    {
        if (win != nullptr) {
            glb->rootWindow->RemoveWindow(win->id);
            win->Destroy();
            XDELETE(win);
            win = nullptr;
        }
        if (font != nullptr)
            XDELETE(font);
        font = nullptr;
        xFreeGuiRoot();
        heard = nullptr;
        ScreenTest::TearDown();
    }
    static void Record(int32_t msg, int32_t, int32_t control, int32_t, void*)
    {
        if (heard != nullptr)
            heard->push_back({msg, control});
    }
    // Feeds events to the window the way the root does.
    void Feed(const std::vector<Ev>& events)
    {
        for (const Ev& e : events) {
            if (e.kind == Ev::Mouse) {
                win->GuiMsgHandler(8, e.a, e.b, e.c, nullptr);
            } else {
                TGuiKey k{static_cast<uint16_t>(e.a), static_cast<uint8_t>(e.b)};
                win->GuiMsgHandler(0, 0, 0, e.a, &k);
            }
        }
    }
    // Opens a screen of the depth and gives the root the committed font.
    bool OpenWithFont(int32_t w, int32_t h, int32_t bits)
    {
        if (!Open(w, h, bits))
            return false;
        glb->rootWindow->RemapDefaults();
        font = XNEW(CFont);
        if (!font->Load(TARVEX_SOURCE_DIR "/data/fonts/dejavusans16.xbf", 0))
            return false;
        glb->rootWindow->SetDefaultFont(font);
        return true;
    }
    // Draws the window after a full redraw request, on a plain background.
    void DrawAll()
    {
        CScreenBase* s = Screen();
        s->FillRect(0, 0, s->activeMode->width, s->activeMode->height, TRGBA(0, 64, 0));
        glb->rootWindow->Validate();
        glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0);
    }
    static inline std::vector<Heard>* heard = nullptr;
    std::vector<Heard> log;
    CWindow* win = nullptr;
    CFont* font = nullptr;
};

// A 24-bit picture: key colour at the corners, a solid middle.
inline CBitmap* Ring(int32_t side)
{
    CBitmap* b = XNEW(CBitmap);
    EXPECT_EQ(b->CreateRGB(side, side, 24, 8, 8, 8, 0, 8, 16, 0), 1);
    TRGBA key(255, 0, 255), solid(200, 30, 30);
    b->Fill(&key);
    for (int32_t y = side / 4; y < side - side / 4; ++y)
        for (int32_t x = side / 4; x < side - side / 4; ++x)
            b->PutPixel(x, y, &solid);
    return b;
}

} // namespace tvtest
