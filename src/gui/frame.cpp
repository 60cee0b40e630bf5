// The two controls every framed, titled window owns: the frame (fill,
// extruded bevel, state bitmap; tracks presses like a button and makes the
// window opaque to the mouse) and the titlebar (caption, active look, window
// drag and the close box, control id XCNTRL_CLOSE).
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/window.h>

#include <algorithm>
#include <cstring>

static CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }

int32_t CFrame::Create(const char* t, int32_t w, int32_t h, CWindowBase* win)
{
    CControlBase::Create(0);
    SetText(t);
    SetPos(0, 0);
    SetSize(w, h);
    flags |= CNTRL_EXTRUDED;
    bevel = 2;
    if (Root() != nullptr)
        SetColors(Root()->defFrame[0], Root()->defFrame[1], Root()->defFrame[2], Root()->defFrame[3]);
    if (win != nullptr)
        SetParent(win->id, win);
    return 1;
}

void CFrame::DrawLook(int32_t l, int32_t t, int32_t w, int32_t h)
{
    CScreenBase* s = glb != nullptr ? glb->screen : nullptr;
    if (s == nullptr || w <= 0 || h <= 0)
        return;
    int32_t si = state == XGUI_PRESSED ? 1 : state == XGUI_HIGHLIGHT ? 2 : state == XGUI_DISABLED ? 3 : 0;
    TCntrlColor* set = colors[si] != nullptr ? colors[si] : colors[0];
    if (set != nullptr) {
        const TRGBA* c = set->colors;
        if ((flags & CNTRL_ALPHA) != 0)
            s->FillRectAlpha(l, t, w, h, alpha);
        else if ((flags & CNTRL_TRANSPARENT) == 0)
            s->FillRect(l, t, w, h, c[2]);
        if ((flags & CNTRL_EXTRUDED) != 0) {
            int32_t r = l + w - 1, b = t + h - 1;
            s->DrawLine(l, t, r, t, c[0]);
            s->DrawLine(l, b, r, b, c[0]);
            s->DrawLine(l, t, l, b, c[0]);
            s->DrawLine(r, t, r, b, c[0]);
            for (int32_t i = 1; i <= bevel && 2 * i < w && 2 * i < h; ++i) {
                s->DrawLine(l + i, t + i, r - i, t + i, c[1]);
                s->DrawLine(l + i, t + i, l + i, b - i, c[1]);
                s->DrawLine(l + i, b - i, r - i, b - i, c[3]);
                s->DrawLine(r - i, t + i, r - i, b - i, c[3]);
            }
            if (bevel > 0) {
                s->DrawLine(l, t, l + bevel, t + bevel, c[4]);
                s->DrawLine(r, b, r - bevel, b - bevel, c[6]);
                s->DrawLine(r, t, r - bevel, t + bevel, c[5]);
                s->DrawLine(l, b, l + bevel, b - bevel, c[5]);
            }
        }
    }
    if ((flags & CNTRL_HASBITMAP) != 0) {
        CBitmap* bm = bitmaps[si] != nullptr ? bitmaps[si] : bitmaps[0];
        int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel + 1 : 0;
        if (bm != nullptr && w > 2 * in && h > 2 * in) {
            int32_t how = (flags & CNTRL_BMTRANS) != 0 ? XBLT_COLORKEY : 0;
            s->PushClip();
            s->SetSubClip(l + in, t + in, l + w - 1 - in, t + h - 1 - in);
            if ((flags & CNTRL_TILED) != 0 && bm->width > 0 && bm->height > 0) {
                for (int32_t ty = t + in; ty < t + h - in; ty += bm->height)
                    for (int32_t tx = l + in; tx < l + w - in; tx += bm->width)
                        s->DrawBitmapScreenGui(bm, 0, 0, tx, ty, bm->width, bm->height, how, 0);
            } else {
                s->DrawBitmapScreenGui(bm, 0, 0, l + in, t + in, w - 2 * in, h - 2 * in, how, 0);
            }
            s->PopClip();
        }
    }
}

int32_t CFrame::Draw(int32_t wx, int32_t wy, int32_t how)
{
    DrawLook(wx + x, wy + y, width, height);
    return CControlBase::Draw(wx, wy, how);
}

int32_t CFrame::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED)
        return 0;
    if (msg == 0)
        return CControlBase::GuiMsgHandler(msg, a, b, d, data);
    if (msg != 8)
        return 1;
    bool inside = mouseArea.IsPntInRect(a, b) != 0;
    int32_t down = d & 1, wasDown = prevButtons & 1;
    prevButtons = d;
    if (down && !wasDown && inside && state != XGUI_PRESSED)
        SetState(XGUI_PRESSED);
    else if (!down && state == XGUI_PRESSED)
        SetState(XGUI_RELEASED);
    bool opaque = (flags & CNTRL_TRANSPARENT) == 0 || (flags & CNTRL_HASBITMAP) != 0;
    return inside && opaque ? 1 : 0;
}

// ---- CTitlebar

int32_t CTitlebar::Create(const char* title, int32_t w, int32_t h, CWindowBase* win, int32_t tflags)
{
    CFrame::Create(title, w, h, win);
    id = XCNTRL_TITLEBAR;
    flags = tflags;
    textColor = TRGBA(0, 0, 0); // dark caption on the light default faces
    bevel = 1;
    CWinCtrl* r = Root();
    if (r != nullptr) {
        SetColors(r->defTitlebar[0], r->defTitlebar[1], r->defTitlebar[2], r->defTitlebar[3]);
        font = r->defFont;
    }
    return 1;
}

CTitlebar::~CTitlebar()
{
    if (caption != nullptr)
        XDELETE(caption);
}

int32_t CTitlebar::Destroy()
{
    if (caption != nullptr)
        XDELETE(caption);
    caption = nullptr;
    return CFrame::Destroy();
}

void CTitlebar::MakeCaption(CFont* f, CScreenBase* s)
{
    if (caption != nullptr)
        XDELETE(caption);
    caption = nullptr;
    captionFont = f;
    captionText = text;
    captionBits = s->activeMode != nullptr ? s->activeMode->bitsPerPixel : 0;
    int32_t w = f->GetTextWidth(text, 2000, static_cast<int16_t>(f->height), 0) + 1;
    int32_t h = f->height;
    if (w <= 1 || h <= 0)
        return;
    caption = XNEW(CBitmap);
    TRGBA key(255, 0, 255);
    if (caption->CreateRGB(w, h, 24, 8, 8, 8, 0, 8, 16, 0) != 1 || caption->Fill(&key) != 1) {
        XDELETE(caption);
        caption = nullptr;
        return;
    }
    TRGBA c = textColor;
    f->CreateColor(c);
    f->Text(caption, text, 0, 0, static_cast<int16_t>(w), static_cast<int16_t>(h), &c, nullptr, 0);
    s->MakeScreenFormat(caption, 1);
}

int32_t CTitlebar::SwapLook(const void* from, void* to)
{
    // The caption was laid out with the old font: lay it out again.
    if (from != nullptr && static_cast<const void*>(captionFont) == from)
        captionFont = nullptr;
    return CControlBase::SwapLook(from, to);
}

CRect CTitlebar::CloseRect() const
{
    CRect r;
    int32_t side = height - 4;
    r.SetXYWH(x + width - side - 2, y + 2, side, side);
    return r;
}

int32_t CTitlebar::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = glb != nullptr ? glb->screen : nullptr;
    if (s == nullptr)
        return 0;
    // The active window shows its title in the second set.
    int32_t keep = state;
    bool isActive = parent != nullptr && parent->active;
    TCntrlColor* set = colors[isActive ? 1 : 0];
    TCntrlColor* saved = colors[0];
    if (set != nullptr)
        colors[0] = set;
    state = XGUI_RELEASED;
    DrawLook(wx + x, wy + y, width, height);
    colors[0] = saved;
    state = keep;
    CWinCtrl* root = Root();
    CFont* f = font != nullptr ? font : root != nullptr ? root->defFont : nullptr;
    int32_t closeW = (flags & XTITLEBAR_CLOSEBOX) != 0 ? height : 0;
    if (f != nullptr && text != nullptr && text[0] != 0) {
        // The caption is laid out once into a keyed picture of the screen's
        // format and drawn from there each time.
        SVmode* m = s->activeMode;
        int32_t bits = m != nullptr ? m->bitsPerPixel : 0;
        if (caption == nullptr || captionFont != f || captionText != text || captionBits != bits)
            MakeCaption(f, s);
        if (caption != nullptr) {
            int32_t cw = std::min(caption->width, width - 6 - closeW);
            s->DrawBitmapScreenGui(caption, 0, 0, wx + x + 4, wy + y + (height - caption->height) / 2, cw,
                                   caption->height, XBLT_COLORKEY, 0);
        }
    }
    if ((flags & XTITLEBAR_CLOSEBOX) != 0 && root != nullptr) {
        CBitmap* bm = root->defClose[closeDown ? 1 : 0];
        CRect r = CloseRect();
        // Centred in its box, which grows with a taller bar.
        if (bm != nullptr)
            s->DrawBitmapScreenGui(bm, 0, 0, wx + r.left + std::max(0, (r.Width() - bm->width) / 2),
                                   wy + r.top + std::max(0, (r.Height() - bm->height) / 2),
                                   std::min(bm->width, r.Width()), std::min(bm->height, r.Height()),
                                   XBLT_COLORKEY, 0);
    }
    return CControlBase::Draw(wx, wy, how);
}

int32_t CTitlebar::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (msg == 11) {
        Validate();
        return 1;
    }
    if (msg != 8)
        return CControlBase::GuiMsgHandler(msg, a, b, d, data);
    bool inside = mouseArea.IsPntInRect(a, b) != 0;
    int32_t down = d & 1, wasDown = prevButtons & 1;
    prevButtons = d;
    bool inClose = (flags & XTITLEBAR_CLOSEBOX) != 0 && CloseRect().IsPntInRect(a, b) != 0;
    if (down && !wasDown && inside) {
        if (inClose) {
            closeDown = 1;
            Validate();
        } else if (parent != nullptr) {
            dragging = 1;
            parent->GuiMsgHandler(9, a, b, 0, nullptr);
        }
    } else if (!down && wasDown) {
        if (dragging && parent != nullptr)
            parent->GuiMsgHandler(10, 0, 0, 0, nullptr);
        dragging = 0;
        if (closeDown) {
            closeDown = 0;
            Validate();
            // The application's close handler usually destroys the window:
            // this is the last thing done with it here.
            if (inClose && Root() != nullptr)
                return Root()->SendMessage(2, parentId, XCNTRL_CLOSE, 0, nullptr), 1;
        }
    }
    return inside ? 1 : 0;
}
