// The ready-made message box: a modal, centred window sized to its text
// with a centred "OK" button (Enter presses it), run on the frame handler
// until it is closed. A quit asked of the application ends the box too, and
// the quit is handed on to the application's own loop. The box is made of
// the window, button and text that the globals keep for it; a box opened
// while that one is showing (from a handler run by its frames) makes its
// own.
#include <tarvex/dialog.h>
#include <tarvex/error.h>
#include <tarvex/keyboard.h>
#include <tarvex/memory.h>

#include <tarvex/static.h>

#include "platform/platform.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr int32_t kMargin = 10;
constexpr int32_t kMinWidth = 100, kMaxWidth = 640, kMaxHeight = 480;
constexpr int32_t kOkId = 1;

struct SBoxState {
    int32_t closed;
    int32_t ok;
};

void BoxCallback(int32_t msg, int32_t, int32_t controlId, int32_t, void* data)
{
    auto* s = static_cast<SBoxState*>(data);
    if (msg != 2)
        return;
    if (controlId == kOkId)
        s->ok = 1;
    if (controlId == kOkId || controlId == XCNTRL_CLOSE)
        s->closed = 1;
}

// The window and controls of one box: the globals' own, or made for a box
// opened while those are in use.
struct SBoxParts {
    CWindow* win = nullptr;
    CStatic* label = nullptr;
    CButton* ok = nullptr;
    bool own = false;
};

bool g_sharedInUse = false;

SBoxParts TakeParts()
{
    SBoxParts p;
    if (!g_sharedInUse && glb->msgBoxWindow != nullptr && glb->msgBoxButton != nullptr &&
        glb->msgBoxText != nullptr) {
        g_sharedInUse = true;
        p.win = glb->msgBoxWindow;
        p.label = glb->msgBoxText;
        p.ok = glb->msgBoxButton;
        return p;
    }
    p.own = true;
    p.win = XNEW(CWindow);
    p.label = XNEW(CStatic);
    p.ok = XNEW(CButton);
    return p;
}

// Destroys the box; the globals' parts stay for the next one.
void GiveBack(SBoxParts& p)
{
    if (p.win != nullptr)
        p.win->Destroy();
    for (CControlBase* c : {static_cast<CControlBase*>(p.label), static_cast<CControlBase*>(p.ok)})
        if (c != nullptr)
            c->Destroy();
    if (!p.own) {
        g_sharedInUse = false;
        return;
    }
    if (p.win != nullptr)
        XDELETE(p.win);
    if (p.label != nullptr)
        XDELETE(p.label);
    if (p.ok != nullptr)
        XDELETE(p.ok);
}

// A window id no other window of the root uses.
int32_t FreeWindowId(CWinCtrl* root)
{
    int32_t id = 0x7FFF0000;
    while (root->FindWindow(id) != nullptr)
        ++id;
    return id;
}

} // namespace

int32_t xMessageBox(const char* text, const char* title, int32_t)
{
    CWinCtrl* root = glb != nullptr ? glb->rootWindow : nullptr;
    if (root == nullptr)
        return xErrorf("xMessageBox: no GUI root");
    static char okText[] = "OK";
    static char empty[] = "";
    if (text == nullptr)
        text = empty;
    CFont* font = root->defFont;
    const int32_t lineH = font != nullptr ? font->height : 16;
    // The text is laid out at most as wide as the widest box allows.
    const int32_t room = kMaxWidth - 2 * kMargin;
    int32_t textW = font != nullptr ? font->GetTextWidth(text, static_cast<int16_t>(room), 2000, 0)
                                    : static_cast<int32_t>(std::strlen(text)) * 8;
    textW = std::clamp(textW + 2, 1, room);
    int32_t textH = font != nullptr ? font->GetTextHeight(text, static_cast<int16_t>(textW), 2000, 0) : lineH;
    textH = std::max(textH, lineH);
    const int32_t buttonW = (font != nullptr ? font->GetTextWidth(okText, 200, 200, 0) : 16) + 40;
    const int32_t buttonH = lineH + 8;
    const int32_t w = std::clamp(textW + 2 * kMargin, std::max(kMinWidth, buttonW + 2 * kMargin), kMaxWidth);
    // The titlebar grows to the font as the window makes it.
    const int32_t barH = std::max(XTITLEBAR_HEIGHT, font != nullptr ? font->height + 2 : 0);
    const int32_t chrome = barH + 3 * kMargin + buttonH;
    textH = std::min(textH, kMaxHeight - chrome);
    const int32_t h = chrome + textH;

    SBoxParts parts = TakeParts();
    CWindow* win = parts.win;
    CStatic* label = parts.label;
    CButton* ok = parts.ok;
    SBoxState state{0, 0};
    int32_t quit = 0;
    const int32_t id = FreeWindowId(root);
    bool made = win != nullptr && label != nullptr && ok != nullptr;
    if (made) {
        win->Create(id, const_cast<char*>(title != nullptr ? title : empty), 0, 0, w, h, // title: read only
                    XWIN_TITLEBAR | XWIN_FRAME | XWIN_CLOSE | XWIN_DRAG | XWIN_MODAL | XWIN_CENTER);
        made = label->Create(text, kMargin, kMargin, w - 2 * kMargin, textH, CNTRL_TRANSPARENT) &&
               ok->Create(kOkId, okText, (w - buttonW) / 2, 2 * kMargin + textH, buttonW, buttonH, XKEY_ENTER,
                          CNTRL_EXTRUDED | CNTRL_CENTERH | CNTRL_CENTERV | CNTRL_BUTTONBORDER);
    }
    if (made) {
        win->AddCntrl(label);
        win->AddCntrl(ok);
        made = root->AddWindow(win, BoxCallback, &state) != 0;
    }
    if (made) {
        root->Validate();
        while (!state.closed) {
            const int32_t code = xHandler();
            if (code != 0 || xDoUserWantToQuit()) {
                // The handler took the quit from the queue: post it again
                // so the application's loop ends as well.
                if (code != 0)
                    tvp::PostQuitMessage(code);
                quit = 1;
                break;
            }
        }
        root->RemoveWindow(id);
    } else {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
    }
    GiveBack(parts);
    root->Validate();
    return made && !quit && state.ok ? TRUE : FALSE;
}
