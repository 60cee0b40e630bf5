// The GUI root: the list of windows front to back, the per-frame drawing
// (back to front) and input routing (modal front window first, then front to
// back; raising on click; the outside click; one key per frame), the z-order
// rules (groups, always-last, modal), notifications to the application, and
// the default look. The look's small bitmaps are drawn here at start-up in
// the library's own design, so nothing outside the repository is needed;
// resource data may replace them (and the colour sets and font) through the
// SetDefault* calls, which only lend their objects.
//
// Handlers may destroy their own window while the root walks the list (the
// usual close handler): removals during a pass only mark the entry, and the
// application's callbacks are delivered when the pass has ended.
#include <tarvex/keyboard.h>
#include <tarvex/memory.h>
#include <tarvex/mouse.h>
#include <tarvex/screen.h>
#include <tarvex/window.h>
#include <tarvex/button.h>
#include <tarvex/static.h>

#include "core/guihooks.h"
#include "gfx/screenhooks.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace
{
struct SQueuedNote {
    int32_t msg, windowId, controlId, system;
    void* data;
};

CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }

void PasteToRoot(char* text, void* user)
{
    auto* root = static_cast<CWinCtrl*>(user);
    if (root != nullptr)
        root->SendMessage(22, 0, 0, 0, text);
}

// Colour sets A-H as (entries 0..7), a grey value or, where noted, a colour.
struct SSetSpec {
    int32_t v[8][3];
};
#define G(n)                                                                                                 \
    {                                                                                                        \
        n, n, n                                                                                              \
    }
constexpr SSetSpec kSets[8] = {
    {{G(80), G(250), G(190), G(32), G(255), G(125), G(0), G(1)}},
    {{G(80), G(32), G(190), G(250), G(0), G(125), G(255), G(1)}},
    {{G(80), G(255), G(210), G(52), G(255), G(155), G(32), G(1)}},
    {{G(80), G(80), G(80), G(80), G(80), G(80), G(80), G(80)}},
    {{G(0), G(205), G(192), G(0), G(220), G(70), G(0), G(1)}},
    {{G(0), {0, 0, 90}, G(205), G(0), G(190), G(250), G(0), G(1)}},
    {{G(32), {0, 0, 128}, G(240), G(0), G(190), G(250), G(0), G(1)}},
    {{{0, 0, 160}, G(205), G(140), G(0), G(220), G(70), G(0), G(1)}},
};
#undef G
} // namespace

CWinCtrl::~CWinCtrl()
{
    RemoveAll();
    EndPass();
    EndDefaultsLoan();
    FreeDefaultLook();
    if (glb != nullptr && glb->keyboard != nullptr)
        glb->keyboard->SetPasteReceiver(nullptr, nullptr);
}

int32_t CWinCtrl::Create()
{
    RegisterMsg(this, XMSG_DRAW, 100);
    RegisterMsg(this, XMSG_CLEAR, -104);
    for (int32_t s = 0; s < 8; ++s) {
        TRGBA c[8];
        for (int32_t e = 0; e < 8; ++e)
            MakeCol(kSets[s].v[e][0], kSets[s].v[e][1], kSets[s].v[e][2], 0, c[e]);
        SetupColors(&colorBlocks[s], &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]);
    }
    TCntrlColor* b = colorBlocks;
    SetDefaultButton(&b[0], &b[1], &b[2], &b[3]);
    SetDefaultFrame(&b[4], &b[4], &b[4], &b[4]);
    SetDefaultTitlebar(&b[5], &b[6], &b[6], &b[5]);
    for (auto*& p : defStatic)
        p = &b[7];
    MakeDefaultLook();
    if (glb != nullptr && glb->keyboard != nullptr)
        glb->keyboard->SetPasteReceiver(PasteToRoot, this);
    return 1;
}

SWinEntry* CWinCtrl::Entry(int32_t id)
{
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (!e->removed && e->window->id == id)
            return e;
    }
    return nullptr;
}

CWindowBase* CWinCtrl::FindWindow(int32_t id)
{
    windows.Push();
    SWinEntry* e = Entry(id);
    windows.Pop();
    return e != nullptr ? e->window : nullptr;
}

CWindowBase* CWinCtrl::FrontWindow()
{
    windows.Push();
    CWindowBase* w = nullptr;
    for (int16_t ok = windows.First(); ok && w == nullptr; ok = windows.Next()) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (!e->removed)
            w = e->window;
    }
    windows.Pop();
    return w;
}

CWindowBase* CWinCtrl::GetWindow()
{
    auto* e = static_cast<SWinEntry*>(windows.Get());
    return e != nullptr && !e->removed ? e->window : nullptr;
}

int32_t CWinCtrl::AddWindow(CWindowBase* win, XGuiCallback callback, void* user)
{
    if (win == nullptr)
        return 0;
    auto* e = XNEW(SWinEntry);
    e->window = win;
    e->callback = callback;
    e->user = user;
    e->removed = 0;
    if ((win->flags & XWIN_ZORDER) != 0) {
        if ((win->flags & XWIN_ZORDERFIRST) != 0)
            groupCounter = 0;
        int32_t n = 0;
        int16_t ok = windows.First();
        while (ok && n < groupCounter) {
            ok = windows.Next();
            ++n;
        }
        if (ok)
            windows.InsertBefore(e);
        else
            windows.InsertLast(e);
        ++groupCounter;
    } else {
        int16_t ok = windows.First();
        while (ok && (static_cast<SWinEntry*>(windows.Get())->window->flags & XWIN_MODAL) != 0)
            ok = windows.Next();
        if (ok)
            windows.InsertBefore(e);
        else
            windows.InsertLast(e);
    }
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* w = static_cast<SWinEntry*>(windows.Get());
        if (!w->removed)
            w->window->GuiMsgHandler(11, w->window->id, 0, w->window->active, nullptr);
    }
    if ((win->flags & XWIN_ZORDER) == 0)
        ToFront(win->id);
    return 1;
}

int32_t CWinCtrl::RemoveWindow(int32_t id)
{
    SWinEntry* e = Entry(id);
    if (e == nullptr)
        return 0;
    CRect r = e->window->screenRect;
    if (Screen() != nullptr)
        Screen()->AddClearAreaGui(r.left, r.top, r.right, r.bottom);
    if (passDepth > 0) {
        // Walked right now: the entry goes when the pass ends.
        e->removed = 1;
    } else {
        windows.DeleteItem(e);
        XDELETE(e);
    }
    windows.Push();
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* w = static_cast<SWinEntry*>(windows.Get());
        if (!w->removed && (w->window->flags & (XWIN_ZORDER | XWIN_ZORDERFIRST)) == 0) {
            int32_t fid = w->window->id;
            windows.Pop();
            ToFront(fid);
            return 1;
        }
    }
    windows.Pop();
    return 1;
}

int32_t CWinCtrl::RemoveAll()
{
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (passDepth > 0) {
            e->removed = 1;
        } else {
            XDELETE(e);
        }
    }
    if (passDepth == 0)
        while (windows.First())
            windows.Delete();
    return 1;
}

void CWinCtrl::EndPass()
{
    if (passDepth > 0)
        return;
    for (int16_t ok = windows.First(); ok;) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (e->removed) {
            windows.Delete();
            XDELETE(e);
            ok = windows.Exists();
        } else {
            ok = windows.Next();
        }
    }
    // Deliver what the pass queued; a callback may queue nothing further
    // (no pass is running now), so the loop ends.
    while (notes.First()) {
        auto* n = static_cast<SQueuedNote*>(notes.Get());
        notes.Delete();
        SQueuedNote note = *n;
        XDELETE(n);
        SendMessage(note.msg, note.windowId, note.controlId, note.system, note.data);
    }
}

// Puts the list in the given order by moving its nodes, so positions saved
// on the list's stack stay valid.
static void Reorder(CLList& list, const std::vector<SWinEntry*>& order)
{
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
        for (int16_t ok = list.First(); ok; ok = list.Next())
            if (list.Get() == *it) {
                SLListNode* node = list.RemoveNode();
                list.InsertFirst(node, 1);
                break;
            }
    }
}

int32_t CWinCtrl::ToFront(int32_t id)
{
    SWinEntry* e = Entry(id);
    if (e == nullptr)
        return 0;
    std::vector<SWinEntry*> v;
    windows.Push();
    for (int16_t ok = windows.First(); ok; ok = windows.Next())
        v.push_back(static_cast<SWinEntry*>(windows.Get()));
    windows.Pop();
    auto has = [](SWinEntry* w, uint32_t f) { return (w->window->flags & f) != 0; };
    size_t at = static_cast<size_t>(std::find(v.begin(), v.end(), e) - v.begin());
    if (!has(e, XWIN_ALWAYSLAST)) {
        size_t first = at, last = at;
        if (has(e, XWIN_ZORDER)) {
            while (first > 0 && !has(v[first], XWIN_ZORDERFIRST) && has(v[first - 1], XWIN_ZORDER))
                --first;
            while (last + 1 < v.size() && !has(v[last], XWIN_ZORDERLAST) && has(v[last + 1], XWIN_ZORDER))
                ++last;
        }
        std::vector<SWinEntry*> moved(v.begin() + static_cast<ptrdiff_t>(first),
                                      v.begin() + static_cast<ptrdiff_t>(last) + 1);
        v.erase(v.begin() + static_cast<ptrdiff_t>(first), v.begin() + static_cast<ptrdiff_t>(last) + 1);
        v.insert(v.begin(), moved.begin(), moved.end());
    }
    e->window->Validate();
    for (size_t i = 0; i < v.size(); ++i)
        if (has(v[i], XWIN_ALWAYSLAST)) {
            SWinEntry* w = v[i];
            v.erase(v.begin() + static_cast<ptrdiff_t>(i));
            v.push_back(w);
            break;
        }
    for (bool again = true; again;) {
        again = false;
        bool seenNormal = false;
        for (size_t i = 0; i < v.size(); ++i) {
            if (!has(v[i], XWIN_MODAL)) {
                seenNormal = true;
            } else if (seenNormal) {
                SWinEntry* w = v[i];
                v.erase(v.begin() + static_cast<ptrdiff_t>(i));
                v.insert(v.begin(), w);
                again = true;
                break;
            }
        }
    }
    Reorder(windows, v);
    for (SWinEntry* w : v)
        if (!w->removed)
            w->window->GuiMsgHandler(11, id, 0, 1, nullptr);
    return 1;
}

int32_t CWinCtrl::SendMessage(int32_t msg, int32_t windowId, int32_t controlId, int32_t system, void* data)
{
    windows.Push();
    int32_t result = 0;
    if (msg == 22) {
        // The paste goes to the front window that is active.
        for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
            auto* e = static_cast<SWinEntry*>(windows.Get());
            if (!e->removed && e->window->active && !e->window->IsHidden()) {
                ++passDepth;
                result = e->window->GuiMsgHandler(22, 0, 0, 0, data);
                --passDepth;
                break;
            }
        }
        windows.Pop();
        EndPass();
        return result;
    }
    if (msg == 17)
        ToFront(windowId);
    SWinEntry* e = Entry(windowId);
    if (msg != 0 && system != 0) {
        if (e != nullptr) {
            ++passDepth;
            e->window->GuiMsgHandler(msg, windowId, controlId, system, data);
            --passDepth;
            result = 1;
        }
    } else if (e != nullptr && e->callback != nullptr) {
        if (passDepth > 0) {
            // A pass is walking the windows: the application hears of it
            // when the pass ends, so its handler may destroy the window.
            auto* n = XNEW(SQueuedNote);
            *n = SQueuedNote{msg, windowId, controlId, system, data != nullptr ? data : e->user};
            notes.InsertLast(n);
        } else {
            e->callback(msg, windowId, controlId, system, data != nullptr ? data : e->user);
        }
        result = 1;
    }
    windows.Pop();
    if (passDepth == 0 && msg != 17)
        EndPass();
    return result;
}

int32_t CWinCtrl::Validate(CRect* r, int32_t how)
{
    windows.Push();
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (!e->removed)
            e->window->Validate(r, how);
    }
    windows.Pop();
    return 1;
}

int32_t CWinCtrl::Validate()
{
    windows.Push();
    for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
        auto* e = static_cast<SWinEntry*>(windows.Get());
        if (!e->removed)
            e->window->Validate();
    }
    windows.Pop();
    return 1;
}

void CWinCtrl::RouteMouse(CMouseBase* mouse, int32_t mx, int32_t my, int32_t btn)
{
    CWindowBase* front = FrontWindow();
    CWindowBase* hit = nullptr;
    if (front != nullptr && (front->flags & XWIN_MODAL) != 0 && !front->IsHidden()) {
        if (front->GuiMsgHandler(8, mx, my, btn, nullptr) == 1)
            hit = front;
    } else {
        for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
            auto* e = static_cast<SWinEntry*>(windows.Get());
            if (e->removed || e->window->IsHidden())
                continue;
            if (e->window->GuiMsgHandler(8, mx, my, btn, nullptr) == 1) {
                hit = e->window;
                break;
            }
        }
    }
    bool anyDown = (btn & 7) != 0;
    bool cursorSet = false;
    if (hit != nullptr && hit->underMouse != nullptr && hit->underMouse->cursor != 0) {
        mouse->SetCursor(hit->underMouse->cursor, 0);
        cursorSet = true;
    }
    if (hit != nullptr && anyDown) {
        if (hit == front)
            hit->GuiMsgHandler(11, hit->id, 0, 1, nullptr);
        else
            ToFront(hit->id);
    } else if (hit == nullptr && anyDown) {
        for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
            auto* e = static_cast<SWinEntry*>(windows.Get());
            if (!e->removed)
                e->window->GuiMsgHandler(11, 0, 0, 0, nullptr);
        }
    }
    if (!cursorSet && defCursor != 0)
        mouse->SetCursor(defCursor, 0);
}

int32_t CWinCtrl::MsgHandler(uint32_t msg, int32_t, int32_t)
{
    if (msg == XMSG_DRAW) {
        CScreenBase* s = Screen();
        if (s == nullptr)
            return 0;
        // The screen hands back the areas restored or drawn over since the
        // last frame; the windows then draw where they were asked to.
        s->Validate();
        ++passDepth;
        for (int16_t ok = windows.Last(); ok; ok = windows.Prev()) {
            auto* e = static_cast<SWinEntry*>(windows.Get());
            if (!e->removed && !e->window->IsHidden())
                e->window->Draw(s->page);
        }
        --passDepth;
        EndPass();
        return 1;
    }
    if (msg != XMSG_CLEAR)
        return 0;
    CMouseBase* mouse = glb != nullptr ? glb->mouse : nullptr;
    // Presses since the last frame, taken every frame so none of them is
    // left over for a window opened later.
    const int32_t pressed = mouse != nullptr ? static_cast<int32_t>(mouse->TakeGuiPresses()) : 0;
    if (windows.GetNumNodes() == 0)
        return 0;
    ++passDepth;
    if (mouse != nullptr) {
        int32_t mx = 0, my = 0;
        int8_t btn = 0;
        mouse->GetState(&mx, &my, &btn);
        // A button that went down since the last frame is down for this
        // one even when it is already up again: the controls see the press
        // now and the release next frame, as with a slower click.
        btn = static_cast<int8_t>(btn | (pressed & 7));
        SVmode* m = Screen() != nullptr ? Screen()->activeMode : nullptr;
        bool outside = m != nullptr && (mx < 0 || my < 0 || mx >= m->width || my >= m->height);
        if (!outside) {
            RouteMouse(mouse, mx, my, btn);
        } else if (defCursor != 0) {
            mouse->SetCursor(defCursor, 0);
        }
    }
    CKeyboard* kb = glb != nullptr ? glb->keyboard : nullptr;
    TQueueChar qc{};
    if (kb != nullptr && kb->IsKeyWaiting() && kb->GetNext(&qc)) {
        TGuiKey key{qc.key, static_cast<uint8_t>((qc.flags & XKEYF_DOWN) != 0 ? 1 : 0)};
        CWindowBase* front = FrontWindow();
        if (front != nullptr && !front->IsHidden() && front->active) {
            front->GuiMsgHandler(0, 0, 0, key.key, &key);
            if (front->focus == nullptr)
                for (int16_t ok = windows.First(); ok; ok = windows.Next()) {
                    auto* e = static_cast<SWinEntry*>(windows.Get());
                    if (!e->removed && e->window != front && !e->window->IsHidden() &&
                        (e->window->flags & XWIN_HIGHLIGHTIFINACTIVE) != 0)
                        e->window->GuiMsgHandler(0, 0, 0, key.key, &key);
                }
        }
    }
    --passDepth;
    EndPass();
    return 1;
}

int32_t CWinCtrl::SetDefaultFrame(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d)
{
    defFrame[0] = a, defFrame[1] = b, defFrame[2] = c, defFrame[3] = d;
    return 1;
}
int32_t CWinCtrl::SetDefaultTitlebar(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d)
{
    defTitlebar[0] = a, defTitlebar[1] = b, defTitlebar[2] = c, defTitlebar[3] = d;
    return 1;
}
int32_t CWinCtrl::SetDefaultButton(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d)
{
    defButton[0] = a, defButton[1] = b, defButton[2] = c, defButton[3] = d;
    return 1;
}
int32_t CWinCtrl::SetDefaultFont(CFont* f)
{
    defFont = f;
    return 1;
}

// A lent bitmap takes the slot; the generated ones stay in builtIn until
// the root goes, so a look lent for a while can be given back.
static void Lend(CWinCtrl*, CBitmap** slots, CBitmap* const* from, int32_t n)
{
    for (int32_t i = 0; i < n; ++i)
        slots[i] = from[i];
}

int32_t CWinCtrl::SetDefaultCaret(CBitmap* b)
{
    Lend(this, &defCaret, &b, 1);
    return 1;
}
int32_t CWinCtrl::SetDefaultCheck(CBitmap* b)
{
    Lend(this, &defCheck, &b, 1);
    return 1;
}
int32_t CWinCtrl::SetDefaultClose(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d)
{
    CBitmap* v[4] = {a, b, c, d};
    Lend(this, defClose, v, 4);
    return 1;
}
int32_t CWinCtrl::SetDefaultDrop(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d)
{
    CBitmap* v[4] = {a, b, c, d};
    Lend(this, defDrop, v, 4);
    return 1;
}
int32_t CWinCtrl::SetDefaultArrowUp(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d)
{
    CBitmap* v[4] = {a, b, c, d};
    Lend(this, defArrowUp, v, 4);
    return 1;
}
int32_t CWinCtrl::SetDefaultArrowDown(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d)
{
    CBitmap* v[4] = {a, b, c, d};
    Lend(this, defArrowDown, v, 4);
    return 1;
}

int32_t CWinCtrl::SetupColors(TCntrlColor* set, TRGBA* c0, TRGBA* c1, TRGBA* c2, TRGBA* c3, TRGBA* c4,
                              TRGBA* c5, TRGBA* c6, TRGBA* c7)
{
    if (set == nullptr)
        return 0;
    const TRGBA* const c[8] = {c0, c1, c2, c3, c4, c5, c6, c7};
    xSetupCntrlColors(set, c);
    return 1;
}

TRGBA& CWinCtrl::MakeCol(int32_t r, int32_t g, int32_t b, int32_t a, TRGBA& out)
{
    out.r = static_cast<uint8_t>(r);
    out.g = static_cast<uint8_t>(g);
    out.b = static_cast<uint8_t>(b);
    out.a = static_cast<uint8_t>(a);
    return out;
}

int32_t CWinCtrl::RemapDefaults()
{
    CScreenBase* s = Screen();
    if (s == nullptr || s->activeMode == nullptr)
        return 0;
    CBitmap* all[] = {defCaret,        defCheck,        defClose[0],    defClose[1],   defClose[2],
                      defClose[3],     defDrop[0],      defDrop[1],     defDrop[2],    defDrop[3],
                      defArrowUp[0],   defArrowUp[1],   defArrowUp[2],  defArrowUp[3], defArrowDown[0],
                      defArrowDown[1], defArrowDown[2], defArrowDown[3]};
    for (CBitmap* b : all)
        if (b != nullptr)
            s->MakeScreenFormat(b, 1);
    // Generated pictures not in use now are kept ready for when a lent look
    // is given back.
    const TResDefaults& g = builtIn;
    CBitmap* kept[] = {g.caret,        g.check,        g.close[0],    g.close[1],   g.close[2],
                       g.close[3],     g.drop[0],      g.drop[1],     g.drop[2],    g.drop[3],
                       g.arrowUp[0],   g.arrowUp[1],   g.arrowUp[2],  g.arrowUp[3], g.arrowDown[0],
                       g.arrowDown[1], g.arrowDown[2], g.arrowDown[3]};
    for (CBitmap* b : kept)
        if (b != nullptr && std::find(std::begin(all), std::end(all), b) == std::end(all))
            s->MakeScreenFormat(b, 1);
    return 1;
}

namespace
{
CWinCtrl* NewRoot()
{
    auto* root = XNEW(CWinCtrl);
    if (root != nullptr)
        root->Create();
    return root;
}

void FreeRoot(CWinCtrl* root) { XDELETE(root); }

void NewMsgBox()
{
    glb->msgBoxWindow = XNEW(CWindow);
    glb->msgBoxButton = XNEW(CButton);
    glb->msgBoxText = XNEW(CStatic);
}

template <class T> void FreeSlot(T*& slot)
{
    if (slot != nullptr) {
        T* p = slot;
        slot = nullptr;
        XDELETE(p);
    }
}

void FreeMsgBox()
{
    FreeSlot(glb->msgBoxWindow);
    FreeSlot(glb->msgBoxButton);
    FreeSlot(glb->msgBoxText);
}

void InputReady()
{
    if (glb->rootWindow != nullptr && glb->keyboard != nullptr)
        glb->keyboard->SetPasteReceiver(PasteToRoot, glb->rootWindow);
}

void InputGone()
{
    if (glb->keyboard != nullptr)
        glb->keyboard->SetPasteReceiver(nullptr, nullptr);
}

// The screens reach the root through these.
void RemapRoot()
{
    if (glb != nullptr && glb->rootWindow != nullptr)
        glb->rootWindow->RemapDefaults();
}

int32_t ValidateRootArea(CRect* r, int32_t index)
{
    return glb != nullptr && glb->rootWindow != nullptr ? glb->rootWindow->Validate(r, index) : 0;
}

void RevalidateRoot()
{
    if (glb != nullptr && glb->rootWindow != nullptr)
        glb->rootWindow->Validate();
}

// The frame makes and frees the root and the message box through these.
[[maybe_unused]] const bool kHooksFilled = [] {
    g_guiHooks.createRoot = NewRoot;
    g_guiHooks.freeRoot = FreeRoot;
    g_guiHooks.createMsgBox = NewMsgBox;
    g_guiHooks.freeMsgBox = FreeMsgBox;
    g_guiHooks.inputReady = InputReady;
    g_guiHooks.inputGone = InputGone;
    g_screenGuiHooks.remapDefaults = RemapRoot;
    g_screenGuiHooks.validateArea = ValidateRootArea;
    g_screenGuiHooks.revalidate = RevalidateRoot;
    return true;
}();
} // namespace

// The globals make the root; this only makes one again after xFreeGuiRoot.
CWinCtrl* xCreateGuiRoot()
{
    if (glb == nullptr)
        return nullptr;
    if (glb->rootWindow == nullptr) {
        glb->rootWindow = NewRoot();
        // Presses from before this root are not its to route.
        if (glb->mouse != nullptr)
            glb->mouse->TakeGuiPresses();
    }
    return glb->rootWindow;
}

void xFreeGuiRoot()
{
    if (glb == nullptr || glb->rootWindow == nullptr)
        return;
    CWinCtrl* r = glb->rootWindow;
    glb->rootWindow = nullptr;
    glb->freeRootWindow = nullptr;
    XDELETE(r);
}
