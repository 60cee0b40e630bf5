// Windows: geometry, controls, focus and the routing of the GUI root's
// messages (keys with Tab and Enter, mouse, drag, activation, enable, paste)
// to their controls; CWindow owns the titlebar and frame and draws them and
// its controls through their clip lists. Windows work without a screen (the
// requests for redraw are then only remembered), so tools and tests can run
// headless.
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/window.h>

#include <algorithm>
#include <cstring>

static CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }

CWindowBase::~CWindowBase() = default;

void CWindowBase::UpdateScreenRect() { screenRect.SetXYWH(x - 1, y - 1, width + 2, height + 2); }

int32_t CWindowBase::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t f)
{
    id = newId;
    width = w;
    height = h;
    flags = static_cast<uint32_t>(f);
    x = px;
    y = py;
    if ((flags & XWIN_CENTER) != 0) {
        // Without a screen (headless) the window stays where it was asked.
        CScreenBase* s = Screen();
        SVmode* m = s != nullptr ? s->activeMode : nullptr;
        if (m != nullptr) {
            x = w < m->width ? (m->width - w) / 2 : 0;
            y = h < m->height ? (m->height - h) / 2 : 0;
        }
    }
    UpdateScreenRect();
    focus = nullptr;
    underMouse = nullptr;
    active = 1;
    staticCntrls = 0;
    return 1;
}

int32_t CWindowBase::SetPos(int32_t px, int32_t py)
{
    if (Screen() != nullptr)
        Screen()->AddClearAreaGui(screenRect.left, screenRect.top, screenRect.right, screenRect.bottom);
    x = px;
    y = py;
    UpdateScreenRect();
    Validate();
    return 1;
}

int32_t CWindowBase::GetPos(int32_t& px, int32_t& py)
{
    px = x;
    py = y;
    return 1;
}

int32_t CWindowBase::SetSize(int32_t w, int32_t h)
{
    if (Screen() != nullptr)
        Screen()->AddClearAreaGui(screenRect.left, screenRect.top, screenRect.right, screenRect.bottom);
    width = w;
    height = h;
    UpdateScreenRect();
    Validate();
    return 1;
}

int32_t CWindowBase::GetSize(int32_t& w, int32_t& h)
{
    w = width;
    h = height;
    return 1;
}

int32_t CWindowBase::SetID(int32_t newId)
{
    id = newId;
    return 1;
}

int32_t CWindowBase::SetFlag(int32_t f)
{
    flags |= static_cast<uint32_t>(f);
    return 1;
}

int32_t CWindowBase::RemoveFlag(int32_t f)
{
    flags &= ~static_cast<uint32_t>(f);
    return 1;
}

int32_t CWindowBase::StaticWindowCntrls(int32_t on)
{
    staticCntrls = on;
    focus = nullptr;
    underMouse = nullptr;
    return 1;
}

int32_t CWindowBase::ToFront()
{
    if (glb == nullptr || glb->rootWindow == nullptr)
        return 0;
    return glb->rootWindow->SendMessage(17, id, 0, 0, nullptr);
}

int32_t CWindowBase::Enable(int32_t on) { return GuiMsgHandler(18, id, 0, on, nullptr); }

int32_t CWindowBase::HideWindow()
{
    flags |= XWIN_HIDDEN;
    if (Screen() != nullptr)
        Screen()->AddClearAreaGui(screenRect.left, screenRect.top, screenRect.right, screenRect.bottom);
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
        static_cast<CControlBase*>(cntrls.Get())->LoseHotKey();
    return 1;
}

int32_t CWindowBase::ShowWindow()
{
    flags &= ~XWIN_HIDDEN;
    if (glb != nullptr && glb->rootWindow != nullptr)
        glb->rootWindow->Validate();
    else
        Validate();
    return 1;
}

int32_t CWindowBase::SetFocus(CControlBase* f)
{
    focus = f;
    cntrls.Push();
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next()) {
        auto* c = static_cast<CControlBase*>(cntrls.Get());
        c->GuiMsgHandler(16, 0, 0, c == f ? 1 : 0, nullptr);
    }
    cntrls.Pop();
    return 1;
}

int32_t CWindowBase::AddCntrl(CControlBase* c)
{
    if (c == nullptr)
        return 0;
    int32_t dx = 0, dy = 0;
    if ((flags & XWIN_TITLEBAR) != 0 && TitlebarCntrl() != nullptr)
        dy += TitlebarCntrl()->height;
    if ((flags & XWIN_BORDER) != 0 && (flags & XWIN_FRAME) != 0 && FrameCntrl() != nullptr) {
        dx += FrameCntrl()->bevel;
        dy += FrameCntrl()->bevel;
    }
    if (dx != 0 || dy != 0)
        c->SetPos(c->x + dx, c->y + dy);
    cntrls.InsertLast(c);
    c->SetParent(id, this);
    return 1;
}

int32_t CWindowBase::RemoveCntrl(CControlBase* c)
{
    if (focus == c)
        focus = nullptr;
    if (underMouse == c)
        underMouse = nullptr;
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
        if (cntrls.Get() == c) {
            cntrls.Delete();
            return 1;
        }
    return 0;
}

int32_t CWindowBase::RemoveAllCntrl()
{
    focus = nullptr;
    underMouse = nullptr;
    while (cntrls.First())
        cntrls.Delete();
    return 1;
}

int32_t CWindowBase::Destroy()
{
    RemoveAllCntrl();
    return 1;
}

int32_t CWindowBase::Draw(int32_t page)
{
    CScreenBase* s = Screen();
    if (s == nullptr)
        return 0;
    auto drawOne = [&](CControlBase* c) {
        if (c == nullptr || c->clipCount == 0)
            return;
        if (c->visible && c->state != XGUI_HIDDEN) {
            s->PushClip();
            for (int32_t i = 0; i < c->clipCount; ++i) {
                s->SetClip(c->clips[i].left, c->clips[i].top, c->clips[i].right, c->clips[i].bottom);
                c->Draw(x, y, page);
                c->DrawAnimLines(x, y);
            }
            s->PopClip();
        }
        c->ClearClipListIndex();
    };
    if ((flags & XWIN_FRAME) != 0)
        drawOne(FrameCntrl());
    if ((flags & XWIN_TITLEBAR) != 0)
        drawOne(TitlebarCntrl());
    cntrls.Push();
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
        drawOne(static_cast<CControlBase*>(cntrls.Get()));
    cntrls.Pop();
    return 1;
}

int32_t CWindowBase::Validate(CRect* r, int32_t how)
{
    if (r == nullptr)
        return 0;
    CRect cut;
    if (!cut.Intersect(*r, screenRect))
        return 0;
    if (FrameCntrl() != nullptr)
        FrameCntrl()->Validate(&cut, how);
    if (TitlebarCntrl() != nullptr)
        TitlebarCntrl()->Validate(&cut, how);
    cntrls.Push();
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
        static_cast<CControlBase*>(cntrls.Get())->Validate(&cut, how);
    cntrls.Pop();
    return 1;
}

int32_t CWindowBase::Validate()
{
    if (Screen() != nullptr)
        Screen()->AddShadowArea(screenRect.left, screenRect.top, screenRect.right, screenRect.bottom);
    CRect all = screenRect;
    return Validate(&all, 0);
}

// Tab walks the tab stops; Enter and keys without a focused tab stop go to
// every control, so default buttons and hotkeys see them.
int32_t CWindowBase::KeyMessage(TGuiKey* key)
{
    if (TitlebarCntrl() != nullptr)
        TitlebarCntrl()->GuiMsgHandler(0, 0, 0, key->key, key);
    if (staticCntrls)
        return 1;
    if (key->key == 9 && (key->flags & 1) != 0) {
        CControlBase* next = nullptr;
        bool passed = focus == nullptr;
        for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next()) {
            auto* c = static_cast<CControlBase*>(cntrls.Get());
            if (!passed) {
                passed = c == focus;
                continue;
            }
            if ((c->flags & CNTRL_TABSTOP) != 0) {
                next = c;
                break;
            }
        }
        if (next != nullptr) {
            next->GuiMsgHandler(0, 0, 0, key->key, key);
            SetFocus(next);
        } else if (focus != nullptr) {
            focus->GuiMsgHandler(16, 0, 0, 0, nullptr);
            focus = nullptr;
        }
        return 1;
    }
    bool toAll = focus == nullptr || (focus->flags & CNTRL_TABSTOP) == 0 ||
                 (key->key == 13 && (focus->flags & CNTRL_MULTILINE) == 0);
    if (!toAll) {
        focus->GuiMsgHandler(0, 0, 0, key->key, key);
        return 1;
    }
    cntrls.Push();
    for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
        static_cast<CControlBase*>(cntrls.Get())->GuiMsgHandler(0, 0, 0, key->key, key);
    cntrls.Pop();
    return 1;
}

int32_t CWindowBase::MouseMessage(int32_t mx, int32_t my, int32_t buttons)
{
    int32_t any = 0;
    if ((flags & XWIN_DRAGGING) != 0) {
        if ((buttons & 1) == 0) {
            flags &= ~XWIN_DRAGGING;
        } else if ((flags & XWIN_SYSTEMWINDOW) != 0 && Screen() != nullptr) {
            Screen()->SetScreenPos(mx - dragX, my - dragY);
        } else if (mx - dragX != x || my - dragY != y) {
            SetPos(mx - dragX, my - dragY);
        }
        return 1;
    }
    if (TitlebarCntrl() != nullptr &&
        TitlebarCntrl()->GuiMsgHandler(8, mx - x, my - y, buttons, nullptr) != 0)
        any = 1;
    // The titlebar may have closed (destroyed) this window's contents.
    if (FrameCntrl() != nullptr && FrameCntrl()->GuiMsgHandler(8, mx - x, my - y, buttons, nullptr) != 0)
        any = 1;
    if (staticCntrls)
        return any;
    underMouse = nullptr;
    for (int16_t ok = cntrls.Last(); ok; ok = cntrls.Prev()) {
        auto* c = static_cast<CControlBase*>(cntrls.Get());
        int32_t r = c->GuiMsgHandler(8, mx - x, my - y, buttons, nullptr);
        if (r != 0) {
            any = 1;
            if (underMouse == nullptr && c->mouseArea.IsPntInRect(mx - x, my - y))
                underMouse = c;
            if (r == 2)
                break;
        }
    }
    return any;
}

int32_t CWindowBase::Paste(const char* text)
{
    if (text == nullptr || focus == nullptr || (focus->flags & CNTRL_TABSTOP) == 0 ||
        (focus->flags & CNTRL_READONLY) != 0)
        return 1;
    for (const char* p = text; *p != 0; ++p)
        if (static_cast<unsigned char>(*p) < 32)
            return 1;
    return focus->PasteText(text);
}

int32_t CWindowBase::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    switch (msg) {
    case 0:
        return data != nullptr ? KeyMessage(static_cast<TGuiKey*>(data)) : 0;
    case 8:
        return MouseMessage(a, b, d);
    case 9:
        if ((flags & XWIN_DRAG) == 0)
            return 0;
        if ((flags & XWIN_DRAGGING) == 0) {
            dragX = a;
            dragY = b;
            flags |= XWIN_DRAGGING;
        }
        return 1;
    case 10:
        if ((flags & XWIN_DRAG) == 0)
            return 0;
        flags &= ~XWIN_DRAGGING;
        return 1;
    case 11: {
        CControlBase* t = TitlebarCntrl();
        // The focused control hears that it lost the focus, so a field
        // stops showing itself lit with a caret.
        CControlBase* lost = focus;
        if (a == id) {
            if (active != d) {
                if (t != nullptr) {
                    t->GuiMsgHandler(11, a, b, d, nullptr);
                    t->Validate();
                }
                focus = nullptr;
            }
            active = d;
        } else {
            active = 0;
            if (t != nullptr) {
                t->GuiMsgHandler(11, a, b, 0, nullptr);
                t->Validate();
            }
            focus = nullptr;
        }
        if (lost != nullptr && focus == nullptr)
            lost->GuiMsgHandler(16, 0, 0, 0, nullptr);
        return 1;
    }
    case 18:
        for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next())
            static_cast<CControlBase*>(cntrls.Get())->SetState(d == 1 ? XGUI_RELEASED : XGUI_DISABLED);
        return 1;
    case 22:
        return Paste(static_cast<const char*>(data));
    default:
        if (staticCntrls)
            return 0;
        for (int16_t ok = cntrls.First(); ok; ok = cntrls.Next()) {
            auto* c = static_cast<CControlBase*>(cntrls.Get());
            if (c->id == d) {
                c->GuiMsgHandler(msg, a, b, d, data);
                return 1;
            }
        }
        return 0;
    }
}

// ---- CWindow

CWindow::~CWindow()
{
    if (titlebar != nullptr)
        XDELETE(titlebar);
    if (frame != nullptr)
        XDELETE(frame);
}

int32_t CWindow::Create(int32_t newId, char* title, int32_t px, int32_t py, int32_t w, int32_t h, int32_t f)
{
    CWindowBase::Create(newId, px, py, w, h, f);
    if ((flags & XWIN_TITLEBAR) != 0 && titlebar == nullptr) {
        titlebar = XNEW(CTitlebar);
        // The bar grows to the caption font's height (and its bevel) so the
        // caption is never cut; without a font it keeps its usual height.
        CWinCtrl* root = glb != nullptr ? glb->rootWindow : nullptr;
        CFont* f = root != nullptr ? root->defFont : nullptr;
        int32_t barH = XTITLEBAR_HEIGHT;
        if (f != nullptr && f->height + 2 > barH)
            barH = f->height + 2;
        titlebar->Create(title, w, barH, this,
                         CNTRL_EXTRUDED | ((flags & XWIN_CLOSE) != 0 ? XTITLEBAR_CLOSEBOX : 0));
    }
    if ((flags & XWIN_FRAME) != 0 && frame == nullptr) {
        frame = XNEW(CFrame);
        frame->Create(nullptr, w, h, this);
    }
    Validate();
    return 1;
}

int32_t CWindow::Destroy()
{
    CWindowBase::Destroy();
    if (titlebar != nullptr) {
        titlebar->Destroy();
        XDELETE(titlebar);
        titlebar = nullptr;
    }
    if (frame != nullptr) {
        frame->Destroy();
        XDELETE(frame);
        frame = nullptr;
    }
    return 1;
}
