// The slider: range arithmetic in 64 bits (no overflow for any 32-bit range,
// no division by an empty range or track), the thumb placed from the value
// and the value read back from the thumb, arrow presses, and the track
// followed by the mouse while the left button is held on it.
#include "ctlutil.h"

#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/slider.h>

#include <algorithm>
#include <climits>

using tvgui::SAlive;

namespace
{
// Sub-controls report to their owner directly: their notifications name a
// window that does not exist and so reach no application.
constexpr int32_t kNoWindow = INT32_MIN;

int32_t Clamp64(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }
} // namespace

CSlider::~CSlider()
{
    SAlive::Kill(alive);
    for (CControlBase* c : std::initializer_list<CControlBase*>{lower, higher, thumb})
        if (c != nullptr)
            XDELETE(c);
}

int32_t CSlider::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t min, int32_t max,
                        int32_t v, int32_t pg, int32_t f)
{
    tvgui::Setup(this, newId, px, py, w, h, 0, f, tvgui::kFrameSets);
    CWinCtrl* r = tvgui::Root();
    if (lower == nullptr)
        lower = XNEW(CButton);
    if (higher == nullptr)
        higher = XNEW(CButton);
    if (thumb == nullptr)
        thumb = XNEW(CDragbutton);
    const int32_t arrowFlags = CNTRL_EXTRUDED | CNTRL_HASBITMAP | CNTRL_BMTRANS;
    lower->Create(newId + XSLIDER_LOWER, nullptr, 0, 0, 1, 1, 0, Vertical() ? arrowFlags : CNTRL_EXTRUDED);
    higher->Create(newId + XSLIDER_HIGHER, nullptr, 0, 0, 1, 1, 0, Vertical() ? arrowFlags : CNTRL_EXTRUDED);
    thumb->Create(newId + XSLIDER_HIGHER + 1, nullptr, 0, 0, 1, 1, 0, CNTRL_EXTRUDED);
    for (CButton* c : std::initializer_list<CButton*>{lower, higher, thumb}) {
        c->bevel = 1;
        c->textColor = TRGBA(0, 0, 0);
    }
    if (r != nullptr && Vertical()) {
        // The default look has up and down arrows; a horizontal slider
        // draws its own (Draw).
        lower->SetBitmap(r->defArrowUp[0], r->defArrowUp[1], r->defArrowUp[2], r->defArrowUp[3]);
        higher->SetBitmap(r->defArrowDown[0], r->defArrowDown[1], r->defArrowDown[2], r->defArrowDown[3]);
    }
    minValue = 0;
    maxValue = 0;
    page = 1;
    value = 0;
    Layout();
    SetRange(min, max, pg);
    SetValue(v);
    if (parent != nullptr)
        SetParent(parentId, parent);
    Validate();
    return 1;
}

int32_t CSlider::Destroy()
{
    SAlive::Kill(alive);
    for (CControlBase* c : std::initializer_list<CControlBase*>{lower, higher, thumb})
        if (c != nullptr) {
            c->Destroy();
            XDELETE(c);
        }
    lower = higher = nullptr;
    thumb = nullptr;
    return CControlBase::Destroy();
}

int32_t CSlider::SetParent(int32_t pid, CWindowBase* win)
{
    CControlBase::SetParent(pid, win);
    for (CControlBase* c : std::initializer_list<CControlBase*>{lower, higher, thumb})
        if (c != nullptr)
            c->SetParent(kNoWindow, win);
    return 1;
}

int32_t CSlider::SetPos(int32_t px, int32_t py)
{
    CControlBase::SetPos(px, py);
    Layout();
    return 1;
}

int32_t CSlider::SetSize(int32_t w, int32_t h)
{
    CControlBase::SetSize(w, h);
    Layout();
    return 1;
}

int32_t CSlider::SetState(int32_t s)
{
    int32_t r = CControlBase::SetState(s);
    int32_t sub = s == XGUI_DISABLED || s == XGUI_HIDDEN ? s : XGUI_RELEASED;
    for (CControlBase* c : std::initializer_list<CControlBase*>{lower, higher, thumb})
        if (c != nullptr)
            c->SetState(sub);
    return r;
}

int32_t CSlider::ArrowSize() const
{
    int32_t a = Vertical() ? width : height;
    return std::clamp(a, 0, std::max(TrackLength() / 2, 0));
}

int32_t CSlider::TrackLength() const { return Vertical() ? height : width; }

int32_t CSlider::FreeTrack() const { return std::max(TrackLength() - 2 * ArrowSize() - thumbLength, 0); }

void CSlider::Layout()
{
    if (lower == nullptr)
        return;
    int32_t a = ArrowSize();
    if (Vertical()) {
        lower->SetPos(x, y);
        lower->SetSize(width, a);
        higher->SetPos(x, y + height - a);
        higher->SetSize(width, a);
    } else {
        lower->SetPos(x, y);
        lower->SetSize(a, height);
        higher->SetPos(x + width - a, y);
        higher->SetSize(a, height);
    }
    SetRange(minValue, maxValue, page);
}

int32_t CSlider::SetRange(int32_t min, int32_t max, int32_t pg)
{
    page = std::max(pg, 1);
    minValue = min;
    maxValue = max;
    const int64_t between = std::max<int64_t>(TrackLength() - 2 * static_cast<int64_t>(ArrowSize()), 0);
    const int64_t count = static_cast<int64_t>(max) - min + 1;
    int64_t len = count < 1 ? between * page : between * page / count;
    len = std::max<int64_t>(len, XSLIDER_MINTHUMB);
    thumbLength = static_cast<int32_t>(std::min(len, between)); // a page beyond the range: the whole track
    topValue = Clamp64(std::max<int64_t>(static_cast<int64_t>(max) - page + 1, min));
    if (thumb != nullptr) {
        int32_t a = ArrowSize();
        CRect area;
        if (Vertical()) {
            thumb->SetSize(width, thumbLength);
            area.SetXYWH(x, y + a, width, static_cast<int32_t>(between));
        } else {
            thumb->SetSize(thumbLength, height);
            area.SetXYWH(x + a, y, static_cast<int32_t>(between), height);
        }
        thumb->SetDragArea(Vertical() ? XDRAG_Y : XDRAG_X, &area);
    }
    SetValue(value);
    return 1;
}

int32_t CSlider::GetRange(int32_t& min, int32_t& max, int32_t& pg)
{
    min = minValue;
    max = maxValue;
    pg = page;
    return 1;
}

int32_t CSlider::SetValue(int32_t v)
{
    value = std::clamp(v, minValue, topValue);
    PlaceThumb();
    Validate();
    return 1;
}

void CSlider::PlaceThumb()
{
    if (thumb == nullptr)
        return;
    const int64_t span = static_cast<int64_t>(topValue) - minValue;
    const int64_t off = span > 0 ? (static_cast<int64_t>(value) - minValue) * FreeTrack() / span : 0;
    if (Vertical())
        thumb->SetDragOffset(0, static_cast<int32_t>(off));
    else
        thumb->SetDragOffset(static_cast<int32_t>(off), 0);
    thumb->TakeMoved();
}

int32_t CSlider::ValueAt(int32_t along)
{
    const int64_t free = FreeTrack();
    if (free <= 0)
        return minValue;
    const int64_t span = static_cast<int64_t>(topValue) - minValue;
    const int64_t v = minValue + (static_cast<int64_t>(along) - ArrowSize()) * span / free;
    return Clamp64(std::clamp<int64_t>(v, minValue, topValue));
}

int32_t CSlider::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible || lower == nullptr)
        return 0;
    if (msg == 0) {
        tvgui::HotkeyPhaseOnly(this, data);
        return 1;
    }
    if (msg != 8)
        return 1;
    const int32_t before = value;
    const bool left = (d & 1) != 0, wasLeft = (prevButtons & 1) != 0;
    prevButtons = d;
    const bool inside = mouseArea.IsPntInRect(a, b) != 0;
    int32_t result = inside ? 1 : 0;
    bool taken = false;
    if (!trackHeld) {
        // The arrows and the thumb see the message first.
        for (CButton* c : std::initializer_list<CButton*>{lower, higher}) {
            const bool wasPressed = c->state == XGUI_PRESSED;
            if (tvgui::Forward(this, c, a, b, d) != 0) {
                taken = true;
                if (!wasPressed && c->state == XGUI_PRESSED)
                    SetValue(c == lower ? (value > minValue ? value - 1 : value)
                                        : (value < topValue ? value + 1 : value));
            }
        }
        int32_t r = tvgui::Forward(this, thumb, a, b, d);
        if (r != 0 || thumb->IsGrabbed()) {
            taken = true;
            if (r == 2)
                result = 2;
            if (thumb->TakeMoved()) {
                int32_t dx = 0, dy = 0;
                thumb->GetDragOffset(dx, dy);
                const int64_t free = FreeTrack(), span = static_cast<int64_t>(topValue) - minValue;
                const int64_t off = Vertical() ? dy : dx;
                if (free > 0) {
                    value = Clamp64(
                        std::clamp<int64_t>(minValue + (off * span + free / 2) / free, minValue, topValue));
                    Validate();
                }
            }
        }
    }
    if (!taken) {
        if (left && !wasLeft && inside)
            trackHeld = 1;
        else if (!left)
            trackHeld = 0;
        if (trackHeld) {
            SetValue(ValueAt(Vertical() ? b - y : a - x));
            result = 2; // the track owns the mouse while held
        }
    }
    // The last thing done here: the handler may destroy the slider.
    if (value != before)
        tvgui::Send(this, alive, 14);
    return result;
}

int32_t CSlider::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = tvgui::Screen();
    if (s == nullptr || !visible || state == XGUI_HIDDEN)
        return 1;
    tvgui::DrawLook(this, wx + x, wy + y, width, height, true);
    for (CControlBase* c : std::initializer_list<CControlBase*>{lower, higher, thumb})
        if (c != nullptr)
            c->Draw(wx, wy, how);
    if (!Vertical() && lower != nullptr) {
        // Left and right arrows: small triangles in the middle of the buttons.
        const TRGBA ink = state == XGUI_DISABLED ? TRGBA(128, 128, 128) : TRGBA(0, 0, 0);
        for (CButton* c : {lower, higher}) {
            const int32_t shift = c->state == XGUI_PRESSED ? 1 : 0;
            const int32_t cx = wx + c->x + c->width / 2 + shift, cy = wy + c->y + c->height / 2 + shift;
            const int32_t dir = c == lower ? -1 : 1;
            for (int32_t i = 0; i < 4; ++i)
                s->DrawLine(cx + dir * (2 - i), cy - i, cx + dir * (2 - i), cy + i, ink);
        }
    }
    return CControlBase::Draw(wx, wy, how);
}
