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

// The hotkey of a control whose hotkey only marks itself held: phase 2
// while down, 0 when up.
void HotkeyPhaseOnly(CControlBase* c, void* data);

// Common part of Create: id, geometry, mouse area, phase, flags, hotkey,
// colour sets (by root set index: 0 frame, 1 button, 2 static), font and
// cursor.
enum : int32_t { kFrameSets = 0, kButtonSets = 1, kStaticSets = 2 };
void Setup(CControlBase* c, int32_t id, int32_t x, int32_t y, int32_t w, int32_t h, int16_t hotkey,
           int32_t flags, int32_t sets);

} // namespace tvgui
