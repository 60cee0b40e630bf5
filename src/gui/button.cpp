// Push buttons, drag buttons and link buttons. A button's input is a small
// machine over the mouse phase (0 idle, 1 over the button, 2 hotkey held)
// and the state; its notifications are collected while the state changes
// and sent only at the very end, because the window's handler may destroy
// the window, and this button with it, on any of them.
#include <tarvex/button.h>
#include <tarvex/file.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <algorithm>
#include <cstring>

namespace
{
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }
CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
constexpr int32_t kMaxNotes = 4;
} // namespace

void xDrawCntrlBevel(int32_t l, int32_t t, int32_t w, int32_t h, const TCntrlColor* set, int32_t bevel)
{
    CScreenBase* s = Screen();
    if (s == nullptr || set == nullptr || w <= 0 || h <= 0)
        return;
    const TRGBA* c = set->colors;
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
    if (bevel > 0 && 2 * bevel < w && 2 * bevel < h) {
        s->DrawLine(l, t, l + bevel, t + bevel, c[4]);
        s->DrawLine(r, b, r - bevel, b - bevel, c[6]);
        s->DrawLine(r, t, r - bevel, t + bevel, c[5]);
        s->DrawLine(l, b, l + bevel, b - bevel, c[5]);
    }
}

// ---- CButton

CButton::~CButton()
{
    CWinCtrl* r = Root();
    if (r != nullptr && r->defButtonCntrl == this)
        r->defButtonCntrl = nullptr;
    if (r != nullptr && r->defStaticCntrl == this)
        r->defStaticCntrl = nullptr;
}

void CButton::Setup(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int16_t key,
                    int32_t f, TCntrlColor* const* sets, CControlBase* model)
{
    CControlBase::Create(newId);
    x = px;
    y = py;
    width = w;
    height = h;
    mouseArea.SetXYWH(x, y, width, height);
    hotkey = key;
    flags = f;
    hotkeyPhase = 0;
    prevButtons = 0;
    bevel = 2;
    // Dark text on the light faces of the default look.
    textColor = TRGBA(0, 0, 0);
    state = pendingState = XGUI_RELEASED;
    rememberedState = XGUI_NOSTATE;
    CWinCtrl* r = Root();
    if (r != nullptr) {
        if (sets != nullptr)
            SetColors(sets[0], sets[1], sets[2], sets[3]);
        font = r->defFont;
        cursor = r->defCursor;
    }
    if (model != nullptr && model != this)
        Copy(model);
    SetText(t);
}

int32_t CButton::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int16_t key,
                        int32_t f)
{
    CWinCtrl* r = Root();
    Setup(newId, t, px, py, w, h, key, f, r != nullptr ? r->defButton : nullptr,
          r != nullptr ? r->defButtonCntrl : nullptr);
    return 1;
}

int32_t CButton::Destroy()
{
    CWinCtrl* r = Root();
    if (r != nullptr && r->defButtonCntrl == this)
        r->defButtonCntrl = nullptr;
    if (r != nullptr && r->defStaticCntrl == this)
        r->defStaticCntrl = nullptr;
    hotkeyPhase = 0;
    return CControlBase::Destroy();
}

int32_t CButton::SetDefault()
{
    CWinCtrl* r = Root();
    if (r == nullptr)
        return 0;
    r->defButtonCntrl = this;
    return 1;
}

TCntrlColor* CButton::StateColors()
{
    TCntrlColor* set = colors[StateIndex(state)];
    return set != nullptr ? set : colors[0];
}

CBitmap* CButton::StateBitmap()
{
    CBitmap* b = bitmaps[StateIndex(state)];
    return b != nullptr ? b : bitmaps[0];
}

int32_t CButton::IsHit(int32_t mx, int32_t my)
{
    if (!mouseArea.IsPntInRect(mx, my))
        return 0;
    constexpr int32_t need = CNTRL_TRANSPARENT | CNTRL_HASBITMAP | CNTRL_BMTRANS;
    if ((flags & need) != need || (flags & (CNTRL_EXTRUDED | CNTRL_BTNTRANSCLICK)) != 0)
        return 1;
    CBitmap* b = StateBitmap();
    if (b == nullptr || (b->bits != 16 && b->bits != 24))
        return 1;
    int32_t px = mx - x - bitmapX, py = my - y - bitmapY;
    TRGBA key, c;
    if (b->GetPixel(0, 0, &key) != TRUE || b->GetPixel(px, py, &c) != TRUE)
        return 0; // off the picture
    return c.r != key.r || c.g != key.g || c.b != key.b ? 1 : 0;
}

void CButton::DrawCaption(const char* t, int32_t l, int32_t tp, int32_t w, int32_t h, int32_t shift,
                          int32_t extra)
{
    CScreenBase* s = Screen();
    CWinCtrl* r = Root();
    CFont* f = font != nullptr ? font : r != nullptr ? r->defFont : nullptr;
    if (s == nullptr || f == nullptr || t == nullptr || t[0] == 0 || w <= 0 || h <= 0)
        return;
    int32_t how = extra;
    if ((flags & CNTRL_CENTERH) != 0)
        how |= XTEXT_CENTERH;
    if ((flags & CNTRL_CENTERV) != 0)
        how |= XTEXT_CENTERV;
    if (f->FindColor(textColor) == nullptr)
        f->CreateColor(textColor);
    TRGBA c = textColor;
    s->PushClip();
    s->SetSubClip(l, tp, l + w - 1, tp + h - 1);
    f->Text(XTEXT_GUI, t, static_cast<int16_t>(l + shift), static_cast<int16_t>(tp + shift),
            static_cast<int16_t>(std::min(w, 32767)), static_cast<int16_t>(std::min(h, 32767)), &c, nullptr,
            how);
    s->PopClip();
}

void CButton::DrawFace(int32_t wx, int32_t wy)
{
    CScreenBase* s = Screen();
    if (s == nullptr)
        return;
    int32_t l = wx + x, t = wy + y;
    TCntrlColor* set = StateColors();
    if ((flags & CNTRL_BUTTONBORDER) != 0 && set != nullptr) {
        const TRGBA& c = set->colors[0];
        s->DrawLine(l - 1, t - 1, l + width, t - 1, c);
        s->DrawLine(l - 1, t + height, l + width, t + height, c);
        s->DrawLine(l - 1, t - 1, l - 1, t + height, c);
        s->DrawLine(l + width, t - 1, l + width, t + height, c);
    }
    if ((flags & CNTRL_ALPHA) != 0)
        s->FillRectAlpha(l, t, width, height, alpha);
    else if ((flags & CNTRL_TRANSPARENT) == 0 && set != nullptr)
        s->FillRect(l, t, width, height, set->colors[2]);
    if ((flags & CNTRL_EXTRUDED) != 0)
        xDrawCntrlBevel(l, t, width, height, set, bevel);
    if ((flags & CNTRL_HASBITMAP) != 0) {
        static constexpr int32_t kAnimFlag[3] = {CNTRL_ANIMNORMAL, CNTRL_ANIMPRESSED, CNTRL_ANIMHIGHLIGHT};
        int32_t slot = state == XGUI_RELEASED    ? 0
                       : state == XGUI_PRESSED   ? 1
                       : state == XGUI_HIGHLIGHT ? 2
                                                 : -1;
        if (slot >= 0 && anims[slot] != nullptr && (flags & kAnimFlag[slot]) != 0)
            DrawBitmap(nullptr, wx, wy);
        else if (CBitmap* b = StateBitmap())
            DrawBitmap(b, wx, wy);
    }
    int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel : 0;
    DrawCaption(text, l + in, t + in, width - 2 * in, height - 2 * in, state == XGUI_PRESSED ? 1 : 0);
}

int32_t CButton::Draw(int32_t wx, int32_t wy, int32_t how)
{
    if (state == XGUI_HIDDEN || !visible)
        return 1;
    DrawFace(wx, wy);
    return CControlBase::Draw(wx, wy, how);
}

int32_t CButton::HotkeyPhase(const void* data, int32_t* notes, int32_t& count)
{
    if (hotkey == 0 || data == nullptr)
        return 0;
    const auto* k = static_cast<const TGuiKey*>(data);
    if (k->key != static_cast<uint16_t>(hotkey))
        return 0;
    if ((k->flags & 1) != 0) {
        if (hotkeyPhase != 2) {
            pendingState = XGUI_PRESSED;
            notes[count++] = XNOTE_PRESSED;
            hotkeyPhase = 2;
        }
        return 1;
    }
    if (hotkeyPhase == 2) {
        pendingState = XGUI_RELEASED;
        notes[count++] = XNOTE_CLICKED;
        hotkeyPhase = 0;
        return 2;
    }
    return 1;
}

void CButton::SendNotes(const int32_t* notes, int32_t count)
{
    CWinCtrl* r = Root();
    if (r == nullptr || count == 0)
        return;
    // Copied out first: after the first note this object may be gone.
    const int32_t win = parentId, me = id, sys = messagingSystem;
    int32_t copy[kMaxNotes];
    std::copy(notes, notes + count, copy);
    for (int32_t i = 0; i < count; ++i)
        r->SendMessage(copy[i], win, me, sys, nullptr);
}

int32_t CButton::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible)
        return 0;
    int32_t notes[kMaxNotes];
    int32_t n = 0;
    if (msg == 0) {
        if (HotkeyPhase(data, notes, n) == 2)
            Clicked();
        Invalidate();
        SendNotes(notes, n);
        return 1;
    }
    if (msg != 8)
        return 1;
    const int32_t hit = IsHit(a, b);
    const bool left = (d & 1) != 0;
    prevButtons = d;
    bool click = false;
    if (hit) {
        if (state != XGUI_PRESSED && !left) {
            if (state == XGUI_RELEASED && pendingState != XGUI_HIGHLIGHT)
                notes[n++] = XNOTE_ENTERED;
            pendingState = XGUI_HIGHLIGHT;
        }
        if (hotkeyPhase == 0 && !left) {
            hotkeyPhase = 1;
        } else if (hotkeyPhase == 1 && left) {
            // Held down: pressed once, not again every frame.
            if (state != XGUI_PRESSED) {
                pendingState = XGUI_PRESSED;
                notes[n++] = XNOTE_PRESSED;
            }
        } else if (hotkeyPhase == 1 && !left && state == XGUI_PRESSED) {
            pendingState = XGUI_HIGHLIGHT;
            notes[n++] = XNOTE_CLICKED;
            click = true;
        }
    } else if (hotkeyPhase != 2) {
        if (state == XGUI_PRESSED) {
            pendingState = XGUI_HIGHLIGHT;
        } else if (state == XGUI_HIGHLIGHT && (!left || hotkeyPhase == 0)) {
            pendingState = XGUI_RELEASED;
            notes[n++] = XNOTE_LEFT;
        }
        hotkeyPhase = 0;
    }
    if (parent != nullptr && !parent->active && !inactiveHighlight && pendingState == XGUI_HIGHLIGHT) {
        // An inactive window's buttons do not light up.
        n = static_cast<int32_t>(std::remove(notes, notes + n, XNOTE_ENTERED) - notes);
        pendingState = XGUI_RELEASED;
        if (state == XGUI_HIGHLIGHT && std::find(notes, notes + n, XNOTE_LEFT) == notes + n)
            notes[n++] = XNOTE_LEFT;
    }
    if (click)
        Clicked();
    Invalidate();
    SendNotes(notes, n);
    return hit;
}

// ---- CDragbutton

int32_t CDragbutton::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int16_t key,
                            int32_t f)
{
    CButton::Create(newId, t, px, py, w, h, key, f);
    grabbed = 0;
    moved = 0;
    return 1;
}

int32_t CDragbutton::SetDragArea(int32_t axis, CRect* area)
{
    dragAxis = axis & (XDRAG_X | XDRAG_Y);
    if (area != nullptr && area->right >= area->left && area->bottom >= area->top && !area->IsNull())
        dragArea = *area;
    else
        dragArea = CRect();
    MoveTo(x, y);
    moved = 0;
    return 1;
}

int32_t CDragbutton::GetDragRoom(int32_t& rx, int32_t& ry)
{
    if (dragArea.IsNull()) {
        rx = ry = 0;
        return 0;
    }
    rx = std::max(0, dragArea.Width() + 1 - width);
    ry = std::max(0, dragArea.Height() + 1 - height);
    return 1;
}

int32_t CDragbutton::GetDragOffset(int32_t& dx, int32_t& dy)
{
    dx = x - dragArea.left;
    dy = y - dragArea.top;
    return 1;
}

int32_t CDragbutton::SetDragOffset(int32_t dx, int32_t dy)
{
    MoveTo(dragArea.left + dx, dragArea.top + dy);
    return 1;
}

int32_t CDragbutton::TakeMoved()
{
    int32_t m = moved;
    moved = 0;
    return m;
}

void CDragbutton::MoveTo(int32_t px, int32_t py)
{
    if ((dragAxis & XDRAG_X) == 0)
        px = x;
    if ((dragAxis & XDRAG_Y) == 0)
        py = y;
    if (!dragArea.IsNull()) {
        int32_t rx = 0, ry = 0;
        GetDragRoom(rx, ry);
        px = std::clamp(px, dragArea.left, dragArea.left + rx);
        py = std::clamp(py, dragArea.top, dragArea.top + ry);
    }
    if (px == x && py == y)
        return;
    // What lay under the old place is drawn again.
    CRect old = ScreenRect();
    if (Root() != nullptr)
        Root()->Validate(&old, 0);
    else if (Screen() != nullptr)
        Screen()->AddClearAreaGui(old.left, old.top, old.right, old.bottom);
    SetPos(px, py);
    moved = 1;
    Validate();
}

int32_t CDragbutton::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible) {
        grabbed = 0;
        return 0;
    }
    if (msg != 8)
        return CButton::GuiMsgHandler(msg, a, b, d, data);
    int32_t notes[kMaxNotes];
    int32_t n = 0;
    const bool left = (d & 1) != 0;
    prevButtons = d;
    int32_t result = 0;
    if (grabbed) {
        if (left) {
            MoveTo(a - grabX, b - grabY);
            return 2; // the drag owns the mouse
        }
        grabbed = 0;
        const int32_t hit = IsHit(a, b);
        pendingState = hit ? XGUI_HIGHLIGHT : XGUI_RELEASED;
        hotkeyPhase = hit ? 1 : 0;
        notes[n++] = XNOTE_CLICKED;
        result = hit;
    } else {
        const int32_t hit = IsHit(a, b);
        if (hit && left && hotkeyPhase == 1) {
            grabbed = 1;
            grabX = a - x;
            grabY = b - y;
            pendingState = XGUI_PRESSED;
            notes[n++] = XNOTE_PRESSED;
            result = 2;
        } else if (hit && !left) {
            if (state != XGUI_PRESSED)
                pendingState = XGUI_HIGHLIGHT;
            if (hotkeyPhase == 0)
                hotkeyPhase = 1;
            result = 1;
        } else if (!hit && hotkeyPhase != 2) {
            if (state == XGUI_HIGHLIGHT)
                pendingState = XGUI_RELEASED;
            hotkeyPhase = 0;
        } else {
            result = hit;
        }
        if (parent != nullptr && !parent->active && !inactiveHighlight && pendingState == XGUI_HIGHLIGHT)
            pendingState = XGUI_RELEASED;
    }
    Invalidate();
    SendNotes(notes, n);
    return result;
}

// ---- CURL

CURL::~CURL()
{
    if (url != nullptr)
        XFREE(url);
}

int32_t CURL::SetURL(const char* address)
{
    if (address == nullptr || address[0] == 0)
        return 0;
    size_t len = std::strlen(address);
    auto* copy = static_cast<char*>(XALLOC(static_cast<int32_t>(len + 1)));
    if (copy == nullptr)
        return 0;
    std::memcpy(copy, address, len + 1);
    if (url != nullptr)
        XFREE(url);
    url = copy;
    return 1;
}

int32_t CURL::Create(int32_t newId, const char* t, const char* address, int32_t px, int32_t py, int32_t w, int32_t h,
                     int16_t key, int32_t f)
{
    if (address == nullptr || address[0] == 0)
        return xErrorTxt_Func("CURL::Create: Missing URL.", __FILE__, __LINE__);
    if (!SetURL(address))
        return 0;
    CButton::Create(newId, t, px, py, w, h, key, f);
    if (Root() == nullptr || Root()->defButtonCntrl == nullptr)
        textColor = TRGBA(0, 0, 192); // a link looks like one
    return 1;
}

int32_t CURL::Destroy()
{
    if (url != nullptr)
        XFREE(url);
    url = nullptr;
    return CButton::Destroy();
}

int32_t CURL::IsMail()
{
    if (url == nullptr || std::strchr(url, '@') == nullptr)
        return 0;
    return std::strchr(url, ':') == nullptr ? 1 : 0;
}

int32_t CURL::Open()
{
    if (url == nullptr)
        return 0;
    if (!IsMail())
        return xShowURL(url);
    static constexpr char kScheme[] = "mailto:";
    size_t len = std::strlen(url);
    auto* target = static_cast<char*>(XALLOC(static_cast<int32_t>(sizeof kScheme + len)));
    if (target == nullptr)
        return 0;
    std::memcpy(target, kScheme, sizeof kScheme - 1);
    std::memcpy(target + sizeof kScheme - 1, url, len + 1);
    int32_t r = xExecuteFile(target, nullptr);
    XFREE(target);
    return r;
}

void CURL::Clicked() { Open(); }
