// The look and the notification guard shared by the edit, slider and list
// controls (see ctlutil.h).
#include "ctlutil.h"

#include <tarvex/edit.h>
#include <tarvex/font.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <cstring>

namespace tvgui
{

CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }

bool Send(CControlBase* c, SAlive*& guard, int32_t msg, void* data)
{
    CWinCtrl* r = Root();
    if (r == nullptr)
        return true;
    SAlive g(guard);
    r->SendMessage(msg, c->parentId, c->id, c->messagingSystem, data);
    return g.alive;
}

static int32_t Slot(int32_t state)
{
    return state == XGUI_PRESSED ? 1 : state == XGUI_HIGHLIGHT ? 2 : state == XGUI_DISABLED ? 3 : 0;
}

TCntrlColor* StateColors(const CControlBase* c)
{
    TCntrlColor* set = c->colors[Slot(c->state)];
    return set != nullptr ? set : c->colors[0];
}

CBitmap* StateBitmap(const CControlBase* c)
{
    CBitmap* b = c->bitmaps[Slot(c->state)];
    return b != nullptr ? b : c->bitmaps[0];
}

int32_t Inset(const CControlBase* c) { return (c->flags & CNTRL_EXTRUDED) != 0 ? c->bevel + 1 : 1; }

void DrawLook(CControlBase* c, int32_t l, int32_t t, int32_t w, int32_t h, bool sunken)
{
    CScreenBase* s = Screen();
    if (s == nullptr || w <= 0 || h <= 0)
        return;
    if (TCntrlColor* set = StateColors(c)) {
        const TRGBA* k = set->colors;
        if ((c->flags & CNTRL_ALPHA) != 0)
            s->FillRectAlpha(l, t, w, h, c->alpha);
        else if ((c->flags & CNTRL_TRANSPARENT) == 0)
            s->FillRect(l, t, w, h, k[2]);
        int32_t r = l + w - 1, b = t + h - 1;
        s->DrawLine(l, t, r, t, k[0]);
        s->DrawLine(l, b, r, b, k[0]);
        s->DrawLine(l, t, l, b, k[0]);
        s->DrawLine(r, t, r, b, k[0]);
        const TRGBA lit = sunken ? k[3] : k[1], shade = sunken ? k[1] : k[3];
        if ((c->flags & CNTRL_EXTRUDED) != 0)
            for (int32_t i = 1; i <= c->bevel && 2 * i < w && 2 * i < h; ++i) {
                s->DrawLine(l + i, t + i, r - i, t + i, lit);
                s->DrawLine(l + i, t + i, l + i, b - i, lit);
                s->DrawLine(l + i, b - i, r - i, b - i, shade);
                s->DrawLine(r - i, t + i, r - i, b - i, shade);
            }
    }
    CBitmap* bm = (c->flags & CNTRL_HASBITMAP) != 0 ? StateBitmap(c) : nullptr;
    int32_t in = (c->flags & CNTRL_EXTRUDED) != 0 ? c->bevel + 1 : 0;
    if (bm != nullptr && w > 2 * in && h > 2 * in) {
        int32_t how = (c->flags & CNTRL_BMTRANS) != 0 ? XBLT_COLORKEY : 0;
        s->PushClip();
        s->SetSubClip(l + in, t + in, l + w - 1 - in, t + h - 1 - in);
        if ((c->flags & CNTRL_TILED) != 0 && bm->width > 0 && bm->height > 0) {
            for (int32_t ty = t + in; ty < t + h - in; ty += bm->height)
                for (int32_t tx = l + in; tx < l + w - in; tx += bm->width)
                    s->DrawBitmapScreenGui(bm, 0, 0, tx, ty, bm->width, bm->height, how, 0);
        } else {
            // Centred in the face (arrow and drop glyphs are smaller).
            int32_t fw = w - 2 * in, fh = h - 2 * in;
            int32_t bx = l + in + (fw > bm->width ? (fw - bm->width) / 2 : 0);
            int32_t by = t + in + (fh > bm->height ? (fh - bm->height) / 2 : 0);
            s->DrawBitmapScreenGui(bm, 0, 0, bx, by, fw, fh, how, 0);
        }
        s->PopClip();
    }
}

void DrawText(CFont* f, const char* text, int32_t l, int32_t t, int32_t w, int32_t h, TRGBA colour,
              int32_t textFlags)
{
    CScreenBase* s = Screen();
    if (s == nullptr || f == nullptr || text == nullptr || text[0] == 0 || w <= 0 || h <= 0)
        return;
    f->CreateColor(colour);
    s->PushClip();
    s->SetSubClip(l, t, l + w - 1, t + h - 1);
    f->Text(XTEXT_GUI, text, static_cast<int16_t>(l), static_cast<int16_t>(t), static_cast<int16_t>(w),
            static_cast<int16_t>(h), &colour, nullptr, textFlags);
    s->PopClip();
}

CFont* FontOf(const CControlBase* c)
{
    if (c->font != nullptr)
        return c->font;
    return Root() != nullptr ? Root()->defFont : nullptr;
}

void HotkeyPhaseOnly(CControlBase* c, void* data)
{
    const auto* k = static_cast<const TGuiKey*>(data);
    if (k != nullptr && c->hotkey != 0 && k->key == static_cast<uint16_t>(c->hotkey))
        c->hotkeyPhase = (k->flags & 1) != 0 ? 2 : 0;
}

void Setup(CControlBase* c, int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
           int32_t flags, int32_t sets)
{
    c->CControlBase::Create(id);
    c->width = w;
    c->height = h;
    c->SetPos(x, y);
    c->hotkeyPhase = 0;
    c->hotkey = hotkey;
    c->flags = flags;
    CWinCtrl* r = Root();
    if (r == nullptr)
        return;
    TCntrlColor* const* s = sets == kFrameSets    ? r->defFrame
                            : sets == kButtonSets ? r->defButton
                                                  : r->defStatic;
    c->SetColors(s[0], s[1], s[2], s[3]);
    c->font = r->defFont;
    c->cursor = r->defCursor;
}

// Width in pixels of the first n characters of s (single line).
int32_t PrefixWidth(CFont* f, const char* s, int32_t n)
{
    if (f == nullptr || s == nullptr || n <= 0)
        return 0;
    char* tmp = static_cast<char*>(XALLOC(n + 1));
    if (tmp == nullptr)
        return 0;
    std::memcpy(tmp, s, static_cast<size_t>(n));
    tmp[n] = 0;
    int32_t w = f->GetTextWidth(tmp, 32767, f->height, XTEXT_SINGLELINE);
    XFREE(tmp);
    return w;
}

// The character index nearest to pixel px (0 = the text's left edge).
int32_t IndexAt(CFont* f, const char* s, int32_t len, int32_t px)
{
    if (px <= 0)
        return 0;
    if (f == nullptr)
        return len; // nothing to measure with: the end
    int32_t prev = 0;
    for (int32_t i = 1; i <= len; ++i) {
        int32_t w = PrefixWidth(f, s, i);
        if (px < w)
            return px - prev < w - px ? i - 1 : i;
        prev = w;
    }
    return len;
}

int32_t Forward(CControlBase* owner, CControlBase* c, int32_t a, int32_t b, int32_t d)
{
    int32_t r = c->GuiMsgHandler(8, a, b, d, nullptr);
    if (c->needsRedraw) {
        c->needsRedraw = 0;
        c->ClearClipListIndex();
        owner->Validate();
    }
    return r;
}

void CaretFocus(CControlBase* c, int32_t& caretOn, int32_t on)
{
    if (on) {
        c->SetState(XGUI_HIGHLIGHT);
        caretOn = 1;
        c->AddTimer(XEDIT_CARET_MS);
    } else {
        if (c->state == XGUI_HIGHLIGHT || c->state == XGUI_PRESSED)
            c->SetState(XGUI_RELEASED);
        caretOn = 0;
        c->RemoveTimer(XEDIT_CARET_MS);
    }
    c->Validate();
}

void CaretBlink(CControlBase* c, int32_t& caretOn, uint32_t timerId)
{
    if (timerId == XEDIT_CARET_MS && c->state == XGUI_HIGHLIGHT) {
        caretOn = !caretOn;
        c->Validate();
    }
}

} // namespace tvgui
