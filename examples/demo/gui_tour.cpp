// The GUI part of the main example: the GUI root with its default look, two
// framed, titled windows, and input given to the main window procedure the
// way the window system gives it, so the root routes it as it would a user's.
#include "gui_tour.h"

#include <tarvex/tarvex.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace
{

const char* const kFont = "data/fonts/dejavusans16.xbf";

std::string FindGuiFont()
{
    std::error_code ec;
    if (std::filesystem::exists(kFont, ec))
        return kFont;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    for (int up = 0; up < 5 && !ec && !dir.empty(); ++up, dir = dir.parent_path()) {
        std::filesystem::path candidate = dir / kFont;
        if (std::filesystem::exists(candidate, ec))
            return candidate.string();
    }
    return kFont;
}

int32_t g_closed = 0;

// The application's handler: the close box removes and destroys the window.
void OnWindow(int32_t msg, int32_t windowId, int32_t controlId, int32_t, void* user)
{
    if (msg != 2 || controlId != XCNTRL_CLOSE)
        return;
    auto* w = static_cast<CWindow*>(user);
    glb->rootWindow->RemoveWindow(windowId);
    w->Destroy();
    XDELETE(w);
    g_closed = windowId;
}

void Mouse(uint32_t msg, uint32_t keys, int32_t x, int32_t y)
{
    xMainWindowProc(sglb->mainWindow, msg, keys, MAKELPARAM(x, y));
    xHandler();
}

} // namespace

bool GuiTour(const std::string& folder)
{
    CScreenBase* s = sglb->dibScreen;
    if (s == nullptr || !s->InitModeRez(640, 480, 16, XVMODE_WINDOW)) {
        std::printf("gui: could not open a 640x480 16-bit window\n");
        return false;
    }
    CWinCtrl* root = xCreateGuiRoot();
    CFont* font = XNEW(CFont);
    TRGBA white(255, 255, 255);
    if (font->Load(FindGuiFont().c_str(), 0) && font->CreateColor(white))
        root->SetDefaultFont(font);
    const int32_t look = XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE | XWIN_DRAG;
    auto* first = XNEW(CWindow);
    auto* second = XNEW(CWindow);
    char t1[] = "First window", t2[] = "Second window";
    first->Create(1, t1, 60, 60, 260, 160, look);
    second->Create(2, t2, 200, 140, 260, 160, look);
    root->AddWindow(first, OnWindow, first);
    root->AddWindow(second, OnWindow, second);
    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    xHandler();

    // Raise the first window by clicking where the second does not cover it,
    // then drag it by its title bar by (+140, +180).
    Mouse(WM_MOUSEMOVE, 0, 80, 100);
    Mouse(WM_LBUTTONDOWN, MK_LBUTTON, 80, 100);
    Mouse(WM_LBUTTONUP, 0, 80, 100);
    const bool raised = root->FrontWindow() == first;
    Mouse(WM_MOUSEMOVE, 0, 100, 68);
    Mouse(WM_LBUTTONDOWN, MK_LBUTTON, 100, 68);
    for (int32_t i = 1; i <= 4; ++i)
        Mouse(WM_MOUSEMOVE, MK_LBUTTON, 100 + 35 * i, 68 + 45 * i);
    Mouse(WM_LBUTTONUP, 0, 240, 248);
    const bool dragged = first->x == 200 && first->y == 240;
    // Close the second window with its close box.
    CRect box = second->titlebar->CloseRect();
    const int32_t cx = second->x + box.left + 3, cy = second->y + box.top + 3;
    Mouse(WM_MOUSEMOVE, 0, cx, cy);
    Mouse(WM_LBUTTONDOWN, MK_LBUTTON, cx, cy);
    Mouse(WM_LBUTTONUP, 0, cx, cy);
    const bool closed = g_closed == 2;

    // The picture of the windows as they stand now.
    s->FillRect(0, 0, 640, 480, TRGBA(30, 70, 110));
    root->Validate();
    root->MsgHandler(XMSG_DRAW, 0, 0);
    CBitmap* shot = XNEW(CBitmap);
    CBitmap* picture = s->GetScreenBitmap();
    const std::string file = folder + "/gui.bmp";
    bool saved = picture != nullptr &&
                 shot->CreateRGB(picture->width, picture->height, 24, 8, 8, 8, 0, 8, 16, 0) &&
                 shot->Blt(picture, 0, 0, 0, 0, -1, -1, 0, 0, 0) &&
                 shot->Save(file.c_str(), nullptr, nullptr, nullptr, 0);
    std::printf("gui: two windows; first %s, dragged to (%d, %d)%s, second %s; picture saved to %s\n",
                raised ? "raised by a click" : "NOT raised", first->x, first->y,
                dragged ? "" : " (unexpected)", closed ? "closed by its close box" : "NOT closed",
                saved ? file.c_str() : "(failed)");
    XDELETE(shot);
    if (!closed) {
        root->RemoveWindow(2);
        second->Destroy();
        XDELETE(second);
    }
    root->RemoveWindow(1);
    first->Destroy();
    XDELETE(first);
    xFreeGuiRoot();
    XDELETE(font);
    // The mode stays for the next part of the tour.
    return raised && dragged && closed && saved;
}
