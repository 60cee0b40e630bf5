// Fixture of the standard-control tests: the library with its screen, the
// GUI root, one window that records the notifications of its controls, key
// and mouse messages handed to that window, and pictures of a window's
// controls compared with golden hashes.
#pragma once

#include "../gfx/screen_util.h"

#include <tarvex/keyboard.h>
#include <tarvex/window.h>

#include <string>
#include <vector>

namespace tvtest
{

struct Note {
    int32_t msg, control;
    bool operator==(const Note& o) const { return msg == o.msg && control == o.control; }
};

inline std::vector<Note> g_ctlNotes;

inline void RecordNote(int32_t msg, int32_t, int32_t controlId, int32_t, void*)
{
    g_ctlNotes.push_back({msg, controlId});
}

inline std::ostream& operator<<(std::ostream& os, const Note& n)
{
    return os << "{" << n.msg << "," << n.control << "}";
}

class CtlTest : public ScreenTest
{
  protected:
    void SetUp() override
    {
        ScreenTest::SetUp();
        ASSERT_NE(xCreateGuiRoot(), nullptr);
        g_ctlNotes.clear();
    }
    void TearDown() override
    {
        CloseWindow();
        if (font != nullptr) {
            glb->rootWindow->SetDefaultFont(nullptr);
            XDELETE(font);
            font = nullptr;
        }
        xFreeGuiRoot();
        ScreenTest::TearDown();
    }
    // A bare window at (wx, wy) whose notifications are recorded.
    CWindow* OpenWindow(int32_t w = 300, int32_t h = 200, int32_t f = 0)
    {
        CloseWindow();
        win = XNEW(CWindow);
        static char title[] = "Controls";
        win->Create(1, title, wx, wy, w, h, f);
        glb->rootWindow->AddWindow(win, RecordNote, nullptr);
        return win;
    }
    void CloseWindow()
    {
        if (win == nullptr)
            return;
        glb->rootWindow->RemoveWindow(win->id);
        win->Destroy();
        XDELETE(win);
        win = nullptr;
    }
    // Opens a screen mode with the committed font as the GUI's default.
    bool OpenScreen(int32_t bits)
    {
        if (!Open(640, 480, bits))
            return false;
        glb->rootWindow->RemapDefaults();
        font = XNEW(CFont);
        if (!font->Load(TARVEX_SOURCE_DIR "/data/fonts/dejavusans16.xbf", 0))
            return false;
        glb->rootWindow->SetDefaultFont(font);
        return true;
    }
    // Draws the window over a plain background; true when the picture
    // matches its golden hash (a BMP is written otherwise).
    ::testing::AssertionResult Picture(const std::string& name, uint32_t golden)
    {
        Render();
        return MatchesGolden(name, *Screen()->GetScreenBitmap(), &Screen()->palette, golden);
    }
    void Render()
    {
        Screen()->FillRect(0, 0, 640, 480, TRGBA(0, 64, 0));
        glb->rootWindow->Validate();
        glb->rootWindow->MsgHandler(XMSG_DRAW, 0, 0);
    }
    void Key(uint16_t key, bool down = true)
    {
        TGuiKey k{key, static_cast<uint8_t>(down ? 1 : 0)};
        win->GuiMsgHandler(0, 0, 0, key, &k);
    }
    void Type(const std::vector<uint16_t>& keys)
    {
        for (uint16_t k : keys) {
            Key(k, true);
            Key(k, false);
        }
    }
    // A mouse message at window-relative (x, y); buttons 1 = left down.
    int32_t Mouse(int32_t x, int32_t y, int32_t buttons)
    {
        return win->GuiMsgHandler(8, wx + x, wy + y, buttons, nullptr);
    }
    void Click(int32_t x, int32_t y)
    {
        Mouse(x, y, 0);
        Mouse(x, y, 1);
        Mouse(x, y, 0);
    }
    std::vector<Note> Notes(int32_t control)
    {
        std::vector<Note> out;
        for (const Note& n : g_ctlNotes)
            if (n.control == control)
                out.push_back(n);
        return out;
    }
    static std::vector<Note> N(int32_t control, const std::vector<int32_t>& msgs)
    {
        std::vector<Note> out;
        for (int32_t m : msgs)
            out.push_back({m, control});
        return out;
    }
    // Opens the screen and places the window so posted mouse messages land
    // on screen pixels.
    bool OpenInput()
    {
        if (!OpenScreen(16) || !tvp::SetWindowPos(sglb->mainWindow, 0, 0, 640, 480))
            return false;
        xHandler();
        return true;
    }
    // A window message posted to the main window and one frame run.
    void Post(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
    {
        ASSERT_TRUE(tvp::TestPostMessage(sglb->mainWindow, msg, keys, MAKELPARAM(x, y)));
        xHandler();
    }
    // A click at screen (x, y) through the frame handler; the GUI sees the
    // mouse one frame late, so a last frame completes it.
    void PostClick(int32_t x, int32_t y)
    {
        Post(WM_MOUSEMOVE, 0, x, y);
        Post(WM_LBUTTONDOWN, MK_LBUTTON, x, y);
        Post(WM_LBUTTONUP, 0, x, y);
        xHandler();
    }
    CWindow* win = nullptr;
    CFont* font = nullptr;
    int32_t wx = 10, wy = 10;
};

} // namespace tvtest
