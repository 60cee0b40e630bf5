// The control base: state machine, redraw requests (clip list), text
// buffers, hotkeys and animations shared by every control kind. Text buffers
// are the one place where outside input (typing, pasting, resource texts)
// meets fixed storage, so every write is bounded by the buffer's capacity and
// a borrowed text is copied before it is changed.
#include <tarvex/control.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/window.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

CControlBase::CControlBase()
{
    if (glb != nullptr && glb->rootWindow != nullptr)
        cursor = glb->rootWindow->defCursor;
}

CControlBase::~CControlBase()
{
    FreeAnimLines();
    if (textOwned && text != nullptr)
        XFREE(text);
}

int32_t CControlBase::StateIndex(int32_t s) const
{
    switch (s) {
    case XGUI_PRESSED:
        return 1;
    case XGUI_HIGHLIGHT:
        return 2;
    case XGUI_DISABLED:
        return 3;
    default:
        return 0;
    }
}

// Animation slot 0 normal, 1 pressed, 2 highlight; its enabling flag.
int32_t CControlBase::AnimFlag(int32_t slot) const
{
    static constexpr int32_t kFlags[3] = {CNTRL_ANIMNORMAL, CNTRL_ANIMPRESSED, CNTRL_ANIMHIGHLIGHT};
    return (flags & kFlags[slot]) != 0 ? 1 : 0;
}

static int32_t AnimSlot(int32_t s)
{
    return s == XGUI_RELEASED ? 0 : s == XGUI_PRESSED ? 1 : s == XGUI_HIGHLIGHT ? 2 : -1;
}

void CControlBase::TimerHandler(uint32_t timerId)
{
    int32_t slot = AnimSlot(state);
    if (slot < 0 || !AnimFlag(slot) || anims[slot] == nullptr)
        return;
    if (parent != nullptr && parent->IsHidden())
        return;
    TCntrlAnim* a = anims[slot];
    if (a->interval != timerId || a->frames.GetNumNodes() == 0)
        return;
    int32_t mode = animModes[slot];
    CLList& l = a->frames;
    if (!l.Exists())
        l.First();
    if (mode == ANIM_BACKWARD) {
        l.Prev();
        if (!l.Exists())
            l.Last();
    } else if (mode == ANIM_PINGPONG) {
        if (animBackward[slot]) {
            l.Prev();
            if (!l.Exists()) {
                l.First();
                animBackward[slot] = 0;
                l.Next();
                if (!l.Exists())
                    l.First();
            }
        } else {
            l.Next();
            if (!l.Exists()) {
                l.Last();
                animBackward[slot] = 1;
                l.Prev();
                if (!l.Exists())
                    l.Last();
            }
        }
    } else {
        l.Next();
        if (!l.Exists()) {
            if (mode == ANIM_ONCE)
                l.Last();
            else
                l.First();
        }
    }
    Validate();
}

int32_t CControlBase::Create(int32_t newId)
{
    id = newId;
    return 1;
}

int32_t CControlBase::Destroy()
{
    RemoveAllTimers();
    FreeAnimLines();
    id = 0;
    if (textOwned && text != nullptr)
        XFREE(text);
    if (textOwned)
        text = nullptr;
    textOwned = 0;
    textSize = 0;
    return 1;
}

int32_t CControlBase::Copy(CControlBase* from)
{
    if (from == nullptr)
        return 0;
    for (int i = 0; i < 4; ++i) {
        bitmaps[i] = from->bitmaps[i];
        colors[i] = from->colors[i];
    }
    for (int i = 0; i < 3; ++i) {
        anims[i] = from->anims[i];
        animModes[i] = from->animModes[i];
    }
    bevel = from->bevel;
    alpha = from->alpha;
    textColor = from->textColor;
    font = from->font;
    textFrame[0] = from->textFrame[0];
    textFrame[1] = from->textFrame[1];
    bkgClip = from->bkgClip;
    SetFlag(from->flags);
    if (from != this) {
        // The copy runs the source's lines from their start, on its own
        // timer; the steps' pictures stay borrowed.
        FreeAnimLines();
        for (SLListNode* n = from->animLines.first; n != nullptr; n = n->next) {
            auto* l = static_cast<TAnimLine*>(n->data);
            if (l->steps.GetNumNodes() == 0)
                SetAnimLine_InsertNewAnimLine(&animLines, l->name);
            for (SLListNode* m = l->steps.first; m != nullptr; m = m->next) {
                auto* st = static_cast<TAnimLineStep*>(m->data);
                SetAnimLine(l->state, l->name, st->x0, st->y0, st->anim, st->x1, st->y1, st->name,
                            st->bitmaps[0], st->bitmaps[1], st->bitmaps[2], st->bitmaps[3]);
            }
        }
    }
    return 1;
}

int32_t CControlBase::LoseHotKey()
{
    if (hotkeyPhase == 2) {
        pendingState = XGUI_RELEASED;
        Invalidate();
        // Last: the window's handler may destroy this control.
        hotkeyPhase = 0;
        Notify(2);
    }
    return 1;
}

int32_t CControlBase::SetFont(CFont* f, TRGBA* color)
{
    font = f;
    if (color != nullptr)
        SetTextColor(*color);
    return 1;
}

int32_t CControlBase::SetTextColor(TRGBA color)
{
    textColor = color;
    if (font != nullptr)
        font->CreateColor(color);
    return 1;
}

int32_t CControlBase::SetBitmap(CBitmap* a, CBitmap* b, CBitmap* c, CBitmap* d)
{
    bitmaps[0] = a;
    bitmaps[1] = b;
    bitmaps[2] = c;
    bitmaps[3] = d;
    return 1;
}

int32_t CControlBase::SetColors(TCntrlColor* a, TCntrlColor* b, TCntrlColor* c, TCntrlColor* d)
{
    colors[0] = a;
    colors[1] = b;
    colors[2] = c;
    colors[3] = d;
    return 1;
}

int32_t CControlBase::SetBevelSize(int32_t size)
{
    bevel = size;
    return 1;
}

int32_t CControlBase::SetID(int32_t newId)
{
    id = newId;
    return 1;
}

int32_t CControlBase::GetPos(int32_t& px, int32_t& py)
{
    px = x;
    py = y;
    return 1;
}

int32_t CControlBase::SetPos(int32_t px, int32_t py)
{
    x = px;
    y = py;
    mouseArea.SetXYWH(x, y, width, height);
    return 1;
}

int32_t CControlBase::GetSize(int32_t& w, int32_t& h)
{
    w = width;
    h = height;
    return 1;
}

int32_t CControlBase::SetSize(int32_t w, int32_t h)
{
    width = w;
    height = h;
    mouseArea.SetXYWH(x, y, width, height);
    return 1;
}

int32_t CControlBase::SetHotkey(int16_t key)
{
    hotkey = key;
    return 1;
}

int32_t CControlBase::SetFlag(int32_t f)
{
    flags |= f;
    return 1;
}

int32_t CControlBase::RemoveFlag(int32_t f)
{
    flags &= ~f;
    return 1;
}

int32_t CControlBase::GetParent(int32_t* pid, CWindowBase** win)
{
    if (pid != nullptr)
        *pid = parentId;
    if (win != nullptr)
        *win = parent;
    return 1;
}

int32_t CControlBase::SetParent(int32_t pid, CWindowBase* win)
{
    parentId = pid;
    parent = win;
    inactiveHighlight = win != nullptr && (win->flags & XWIN_HIGHLIGHTIFINACTIVE) != 0 ? 1 : 0;
    return 1;
}

int32_t CControlBase::Notify(int32_t msg)
{
    if (glb == nullptr || glb->rootWindow == nullptr)
        return 0;
    return glb->rootWindow->SendMessage(msg, parentId, id, messagingSystem, nullptr);
}

int32_t CControlBase::GuiMsgHandler(int32_t msg, int32_t, int32_t, int32_t, void* data)
{
    // Message 0 carries the key record in data (a pointer does not fit d).
    if (msg != 0 || hotkey == 0 || data == nullptr)
        return 1;
    const TGuiKey* k = static_cast<const TGuiKey*>(data);
    if (k->key != static_cast<uint16_t>(hotkey) || state == XGUI_DISABLED || state == XGUI_HIDDEN)
        return 1;
    if ((k->flags & 1) != 0) {
        if (hotkeyPhase != 2) {
            pendingState = XGUI_PRESSED;
            Invalidate();
            hotkeyPhase = 2;
            Notify(1); // last, as above
        }
    } else {
        LoseHotKey();
    }
    return 1;
}

CRect CControlBase::ScreenRect() const
{
    CRect r;
    r.SetXYWH(x, y, width, height);
    if ((flags & CNTRL_BUTTONBORDER) != 0)
        r.Inflate(1, 1);
    if (parent != nullptr) {
        r.left += parent->x;
        r.right += parent->x;
        r.top += parent->y;
        r.bottom += parent->y;
    }
    return r;
}

int32_t CControlBase::Draw(int32_t wx, int32_t wy, int32_t)
{
    bool seeThrough = (flags & (CNTRL_TRANSPARENT | CNTRL_ALPHA)) != 0 && id != XCNTRL_TITLEBAR;
    if (seeThrough && parent != nullptr && (parent->flags & XWIN_ALPHA) != 0 && glb != nullptr &&
        glb->screen != nullptr)
        glb->screen->AddClearArea(wx + x, wy + y, wx + x + width + 1, wy + y + height + 1);
    needsRedraw = 0;
    return 1;
}

int32_t CControlBase::Invalidate()
{
    if (pendingState == state)
        return 1;
    int32_t oldSlot = AnimSlot(state), newSlot = AnimSlot(pendingState);
    if (oldSlot >= 0 && AnimFlag(oldSlot) && anims[oldSlot] != nullptr)
        RemoveTimer(anims[oldSlot]->interval);
    if (newSlot >= 0 && AnimFlag(newSlot) && anims[newSlot] != nullptr) {
        AddTimer(anims[newSlot]->interval);
        anims[newSlot]->frames.First();
    }
    if (pendingState == XGUI_HIDDEN && glb != nullptr && glb->screen != nullptr) {
        CRect r = ScreenRect();
        glb->screen->AddClearAreaGui(r.left, r.top, r.right, r.bottom);
    }
    state = pendingState;
    Validate();
    return 1;
}

int32_t CControlBase::Validate()
{
    CRect r = ScreenRect();
    // Headless (no screen) the request is only remembered.
    if (glb != nullptr && glb->screen != nullptr) {
        glb->screen->AddShadowArea(r.left, r.top, r.right, r.bottom);
        bool seeThrough = (flags & (CNTRL_TRANSPARENT | CNTRL_ALPHA)) != 0 && id != XCNTRL_TITLEBAR;
        if (seeThrough && parent != nullptr) {
            bool opaqueBitmap = (flags & CNTRL_HASBITMAP) != 0 && (flags & CNTRL_BMTRANS) == 0;
            CControlBase* fr = parent->FrameCntrl();
            bool flatClearFrame =
                fr != nullptr && (fr->flags & CNTRL_TRANSPARENT) != 0 && (fr->flags & CNTRL_EXTRUDED) == 0;
            if (!((opaqueBitmap || !flatClearFrame) && (parent->flags & XWIN_ALPHA) == 0))
                glb->screen->AddClearAreaGui(r.left, r.top, r.right, r.bottom);
        }
    }
    // The whole control joins its clip list so the window draws it.
    Validate(&r, 0);
    needsRedraw = 1;
    return 1;
}

int32_t CControlBase::Validate(CRect* r, int32_t)
{
    if (r == nullptr)
        return 0;
    CRect mine = ScreenRect(), cut;
    if (!cut.Intersect(mine, *r))
        return 0;
    for (int32_t i = 0; i < clipCount; ++i) {
        CRect meet;
        if (clips[i].IsEqual(&cut) || (flags >= CNTRL_ALPHA && meet.Intersect(clips[i], cut))) {
            clips[i].Union(clips[i], cut);
            return 1;
        }
    }
    if (clipCount == XCNTRL_CLIPS) {
        // Full: the new region is merged into the last entry.
        clips[XCNTRL_CLIPS - 1].Union(clips[XCNTRL_CLIPS - 1], cut);
        return 1;
    }
    clips[clipCount++] = cut;
    return 1;
}

int32_t CControlBase::SetState(int32_t s)
{
    if (s == state)
        return 0;
    if (s == XGUI_RELEASED && rememberedState != XGUI_NOSTATE) {
        s = rememberedState;
        rememberedState = XGUI_NOSTATE;
    } else if (s == XGUI_DISABLED) {
        if (state != XGUI_PRESSED && state != XGUI_HIDDEN)
            rememberedState = state;
    } else {
        rememberedState = XGUI_NOSTATE;
    }
    pendingState = s;
    Invalidate();
    return 1;
}

int32_t CControlBase::SetAlpha(int32_t a)
{
    alpha = a;
    return 1;
}

int32_t CControlBase::SetCntrlMessagingSystem(int32_t sys)
{
    messagingSystem = sys;
    return 1;
}

int32_t CControlBase::ClearClipListIndex()
{
    clipCount = 0;
    return 1;
}

int32_t CControlBase::DrawBitmap(CBitmap* b, int32_t wx, int32_t wy)
{
    CScreenBase* scr = glb != nullptr ? glb->screen : nullptr;
    if (scr == nullptr)
        return 0;
    int32_t ax = wx + x + bitmapX, ay = wy + y + bitmapY, aw = width, ah = height;
    if ((flags & CNTRL_EXTRUDED) != 0) {
        ax += bevel;
        ay += bevel;
        aw -= 2 * bevel;
        ah -= 2 * bevel;
    }
    if (aw <= 0 || ah <= 0)
        return 0;
    int32_t fx = 0, fy = 0;
    if (b == nullptr) {
        int32_t slot = AnimSlot(state);
        if (slot < 0 || anims[slot] == nullptr)
            return 0;
        b = static_cast<CBitmap*>(anims[slot]->frames.Get());
        if (b == nullptr)
            b = static_cast<CBitmap*>(anims[slot]->frames.Get(0));
        if (b == nullptr)
            return 0;
    }
    int32_t how = (flags & CNTRL_BMTRANS) != 0 ? XBLT_COLORKEY : 0;
    scr->PushClip();
    scr->SetSubClip(ax, ay, ax + aw - 1, ay + ah - 1);
    if ((flags & CNTRL_TILED) != 0 && b->width > 0 && b->height > 0) {
        for (int32_t ty = ay; ty < ay + ah; ty += b->height)
            for (int32_t tx = ax; tx < ax + aw; tx += b->width)
                scr->DrawBitmapScreenGui(b, 0, 0, tx, ty, b->width, b->height, how, 0);
    } else if (bkgClip.IsEmpty()) {
        scr->DrawBitmapScreenGui(b, fx, fy, ax, ay, aw, ah, how, 0);
    } else {
        scr->DrawBitmapScreenGui(b, bkgClip.left, bkgClip.top, ax, ay, bkgClip.Width(), bkgClip.Height(), how,
                                 0);
    }
    scr->PopClip();
    return 1;
}

int32_t CControlBase::SetAnimBitmap(TCntrlAnim* anim, int32_t forState, int32_t mode)
{
    int32_t slot = AnimSlot(forState);
    if (slot < 0)
        return 0;
    if (anims[slot] != nullptr && state == forState)
        RemoveTimer(anims[slot]->interval);
    anims[slot] = anim;
    animModes[slot] = mode;
    if (anim != nullptr) {
        // A delay below 1 ms would be a timer firing every frame forever.
        if (anim->interval == 0)
            anim->interval = 1;
        anim->frames.First();
        if (state == forState && AnimFlag(slot))
            AddTimer(anim->interval);
    }
    return 1;
}

int32_t CControlBase::SetFrameRate(int32_t which, int32_t ms)
{
    if (which < 1 || which > 3)
        return 1;
    if (ms < 1)
        return 0;
    auto update = [&](int32_t slot) {
        if (!AnimFlag(slot))
            return 1;
        if (anims[slot] == nullptr)
            return 0;
        RemoveTimer(anims[slot]->interval);
        anims[slot]->interval = static_cast<uint32_t>(ms);
        AddTimer(static_cast<uint32_t>(ms));
        return 1;
    };
    int32_t ok = 1;
    if (which == 2)
        ok &= update(0);
    if (which <= 2)
        ok &= update(1);
    ok &= update(2);
    return ok;
}

char* CControlBase::GetTextBuffer(int32_t refresh)
{
    if (refresh == 1)
        Validate();
    return text;
}

char* CControlBase::AllocBuffer(int32_t size)
{
    // A buffer needs room for its terminator at least.
    if (size <= 0)
        return nullptr;
    char* p = static_cast<char*>(XALLOC(size));
    if (p == nullptr)
        return nullptr;
    if (textOwned && text != nullptr)
        XFREE(text);
    text = p;
    text[0] = 0;
    textSize = size;
    textOwned = 1;
    return text;
}

int32_t CControlBase::PasteText(const char* p)
{
    // A borrowed text is copied first; the copy is cut at the capacity,
    // terminator included.
    int32_t cap = textOwned ? textSize : static_cast<int32_t>(std::strlen(p)) + 1;
    char* buf = MakeTextWritable(cap);
    if (buf == nullptr || textSize <= 0)
        return 1;
    size_t n = std::min(std::strlen(p), static_cast<size_t>(textSize - 1));
    std::memcpy(buf, p, n);
    buf[n] = 0;
    Validate();
    return 1;
}

int32_t CControlBase::SetText(char* p)
{
    if (textOwned && text != nullptr && text != p)
        XFREE(text);
    text = p;
    textOwned = 0;
    textSize = p != nullptr ? static_cast<int32_t>(std::strlen(p)) + 1 : 0;
    Validate();
    return 1;
}

char* CControlBase::MakeTextWritable(int32_t minSize)
{
    if (textOwned && text != nullptr && textSize >= minSize)
        return text;
    int32_t have = text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
    int32_t size = std::max(minSize, have + 1);
    if (textOwned && textSize > size)
        size = textSize;
    char* p = static_cast<char*>(XALLOC(size));
    if (p == nullptr)
        return nullptr;
    if (text != nullptr)
        std::memcpy(p, text, static_cast<size_t>(have) + 1);
    else
        p[0] = 0;
    if (textOwned && text != nullptr)
        XFREE(text);
    text = p;
    textOwned = 1;
    textSize = size;
    return text;
}

int32_t CControlBase::GetMouseArea(CRect* out)
{
    if (out != nullptr)
        *out = mouseArea;
    return 1;
}

int32_t CControlBase::SwapLook(const void* from, void* to)
{
    if (from == nullptr)
        return 0;
    int32_t n = 0;
    auto swap = [&](auto*& slot) {
        using T = std::remove_reference_t<decltype(*slot)>;
        if (static_cast<const void*>(slot) == from) {
            slot = static_cast<T*>(to);
            ++n;
        }
    };
    swap(font);
    for (int32_t i = 0; i < 4; ++i) {
        swap(bitmaps[i]);
        swap(colors[i]);
    }
    if (n > 0)
        Validate();
    return n;
}

void CControlBase::SetBkgClip(CRect* r)
{
    if (r == nullptr) {
        bkgClip.SetEmpty();
        return;
    }
    bkgClip = *r;
    if (bkgClip.right > bkgClip.left + width - 1)
        bkgClip.right = bkgClip.left + width - 1;
    if (bkgClip.bottom > bkgClip.top + height - 1)
        bkgClip.bottom = bkgClip.top + height - 1;
}
