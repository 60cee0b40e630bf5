// Helpers shared by the edit, slider and list controls: the look of a
// control's rectangle (face, bevel, state bitmap) and its text, the common
// part of their Create calls, and notifications that survive a handler which
// destroys the control (the usual OK handler destroys its whole dialog).
#pragma once

#include <tarvex/control.h>
#include <tarvex/window.h>

class CScreenBase;

namespace tvgui
{

CScreenBase* Screen();
CWinCtrl* Root();

// Marks a notification in flight. A control keeps the innermost guard in a
// field; Kill (from Destroy and the destructor) clears every guard of the
// chain, so the sender knows it must not touch the control again.
struct SAlive {
    bool alive = true;
    SAlive* prev;
    SAlive** head;
    explicit SAlive(SAlive*& h) : prev(h), head(&h) { h = this; }
    SAlive(const SAlive&) = delete;
    SAlive& operator=(const SAlive&) = delete;
    ~SAlive()
    {
        if (alive)
            *head = prev;
    }
    static void Kill(SAlive*& h)
    {
        for (SAlive* g = h; g != nullptr; g = g->prev)
            g->alive = false;
        h = nullptr;
    }
};

// Sends notification msg of c with data through the GUI root; false when
// the control was destroyed while the message was handled.
bool Send(CControlBase* c, SAlive*& guard, int32_t msg, void* data = nullptr);

// The colour set and bitmap of the control's state (the normal ones when
// the state has none).
TCntrlColor* StateColors(const CControlBase* c);
CBitmap* StateBitmap(const CControlBase* c);

// Fill, border, bevel (when extruded; sunken: lit edges at the bottom and
// right) and state bitmap over (l, t, w, h) in screen pixels.
void DrawLook(CControlBase* c, int32_t l, int32_t t, int32_t w, int32_t h, bool sunken = false);
// Pixels between the rectangle's edge and its content.
int32_t Inset(const CControlBase* c);
// Text in (l, t, w, h), clipped to that box, in colour with text flags.
void DrawText(CFont* f, const char* text, int32_t l, int32_t t, int32_t w, int32_t h, TRGBA colour,
              int32_t textFlags);
// Width in pixels of the first n characters of s on one line.
int32_t PrefixWidth(CFont* f, const char* s, int32_t n);
// The character index of s (len characters) nearest to pixel px.
int32_t IndexAt(CFont* f, const char* s, int32_t len, int32_t px);
// The font a control draws with: its own, else the root's default.
CFont* FontOf(const CControlBase* c);

// Hands mouse message 8 to sub-control c of owner; when c changed its look,
// owner is drawn again. Returns c's answer.
int32_t Forward(CControlBase* owner, CControlBase* c, int32_t a, int32_t b, int32_t d);

// The hotkey of a control whose hotkey only marks itself held: phase 2
// while down, 0 when up.
void HotkeyPhaseOnly(CControlBase* c, void* data);

// Common part of Create: id, geometry, mouse area, phase, flags, hotkey,
// colour sets (by root set index: 0 frame, 1 button, 2 static), font and
// cursor.
enum : int32_t { kFrameSets = 0, kButtonSets = 1, kStaticSets = 2 };
void Setup(CControlBase* c, int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
           int32_t flags, int32_t sets);

// Caret of a text field: on focus the field is highlighted and its caret
// blinks on the XEDIT_CARET_MS timer; off, it is released and stops.
void CaretFocus(CControlBase* c, int32_t& caretOn, int32_t on);
// Flips the caret on the blink timer while the field has the focus.
void CaretBlink(CControlBase* c, int32_t& caretOn, uint32_t timerId);

// The messages a text field takes: focus (16), keys (0) while it has the
// focus and its window is active, and the left button (8): a press inside
// takes the focus, places the caret (place(a, b)) and sends 1, a release
// after it sends 2 when inside. focus(on) and key(key, record) are the
// field's own.
template <class FocusFn, class KeyFn, class PlaceFn>
int32_t FieldMsg(CControlBase* c, SAlive*& alive, int32_t& prevButtons, int32_t& grabbed, int32_t msg,
                 int32_t a, int32_t b, int32_t d, void* data, FocusFn focus, KeyFn key, PlaceFn place)
{
    if (c->state == XGUI_DISABLED || c->state == XGUI_HIDDEN)
        return 0;
    switch (msg) {
    case 16:
        focus(d);
        return 1;
    case 0: {
        auto* k = static_cast<TGuiKey*>(data);
        if (k == nullptr || (k->flags & 1) == 0 || c->state != XGUI_HIGHLIGHT || c->parent == nullptr ||
            !c->parent->active)
            return 1;
        return key(k->key, k);
    }
    case 8: {
        bool inside = c->mouseArea.IsPntInRect(a, b) != 0;
        int32_t down = d & 1, wasDown = prevButtons & 1;
        prevButtons = d;
        if (inside && down && !wasDown) {
            grabbed = 1;
            if (c->parent != nullptr)
                c->parent->SetFocus(c);
            else
                focus(1);
            place(a, b);
            c->Validate();
            if (!Send(c, alive, 1))
                return 1;
        } else if (!down && wasDown && grabbed) {
            grabbed = 0;
            if (inside && !Send(c, alive, 2))
                return 1;
        }
        return inside ? 1 : 0;
    }
    default:
        return 1;
    }
}

} // namespace tvgui
