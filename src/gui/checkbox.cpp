// Check boxes, radio buttons and group boxes. A check box toggles once per
// press (the mouse must go down while over it) or hotkey press; a radio
// button is selected by a press and its group box deselects the others.
// Selecting runs inside a pass of the GUI root, so the notes of every
// member involved are delivered after all of them have changed: a handler
// that destroys the window then finds nothing half done.
#include <tarvex/checkbox.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <algorithm>
#include <vector>

namespace
{
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }
CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
constexpr int32_t kMaxNotes = 4;
const TRGBA kBoxFace(255, 255, 255);
const TRGBA kBoxDisabled(192, 192, 192);

// A filled disc of diameter side with its top-left corner at (l, t): a
// pixel is inside when its centre is (in half pixels).
void Disc(CScreenBase* s, int32_t l, int32_t t, int32_t side, TRGBA c)
{
    for (int32_t row = 0; row < side; ++row) {
        const int32_t dy = 2 * row + 1 - side;
        int32_t left = 0;
        while (left < side / 2 && (2 * left + 1 - side) * (2 * left + 1 - side) + dy * dy > side * side)
            ++left;
        if (side - 2 * left > 0)
            s->FillRect(l + left, t + row, side - 2 * left, 1, c);
    }
}
} // namespace

// ---- CCheckbox

int32_t CCheckbox::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h,
                          int32_t lookValue, int16_t key, int32_t f)
{
    look = lookValue;
    if (look == 0)
        f |= CNTRL_HASBITMAP | CNTRL_BMTRANS;
    // No colour sets of their own: the box sits on the window's face.
    Setup(newId, t, px, py, w, h, key, f, nullptr, nullptr);
    state = pendingState = (flags & CNTRL_CHECKED) != 0 ? XGUI_CHECKED : XGUI_UNCHECKED;
    UpdateMouseArea();
    return 1;
}

int32_t CCheckbox::UpdateMouseArea()
{
    mouseArea.SetXYWH(x, y, width, height);
    return 1;
}

int32_t CCheckbox::SetPos(int32_t px, int32_t py)
{
    CButton::SetPos(px, py);
    return UpdateMouseArea();
}

int32_t CCheckbox::SetSize(int32_t w, int32_t h)
{
    CButton::SetSize(w, h);
    return UpdateMouseArea();
}

int32_t CCheckbox::SetState(int32_t s)
{
    if ((s == XGUI_RELEASED || s == XGUI_PRESSED || s == XGUI_HIGHLIGHT) && rememberedState == XGUI_NOSTATE)
        s = state == XGUI_CHECKED ? XGUI_CHECKED : XGUI_UNCHECKED;
    return CButton::SetState(s);
}

int32_t CCheckbox::SetChecked(int32_t on)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN) {
        // Shown when the box comes back.
        rememberedState = on ? XGUI_CHECKED : XGUI_UNCHECKED;
        return 1;
    }
    SetState(on ? XGUI_CHECKED : XGUI_UNCHECKED);
    return 1;
}

int32_t CCheckbox::Toggle(int32_t* notes, int32_t& count)
{
    int32_t next = state == XGUI_UNCHECKED ? XGUI_CHECKED : XGUI_UNCHECKED;
    pendingState = next;
    notes[count++] = next;
    return next;
}

int32_t CCheckbox::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible || (flags & CNTRL_READONLY) != 0)
        return 0;
    int32_t notes[kMaxNotes];
    int32_t n = 0;
    int32_t result = 1;
    if (msg == 0) {
        const auto* k = static_cast<const TGuiKey*>(data);
        if (hotkey == 0 || k == nullptr || k->key != static_cast<uint16_t>(hotkey))
            return 1;
        if ((k->flags & 1) != 0) {
            if (hotkeyPhase != 2) {
                Toggle(notes, n);
                hotkeyPhase = 2;
            }
        } else if (hotkeyPhase == 2) {
            notes[n++] = XNOTE_CLICKED;
            hotkeyPhase = 0;
        }
    } else if (msg == 8) {
        const bool hit = mouseArea.IsPntInRect(a, b) != 0;
        const bool left = (d & 1) != 0, wasLeft = (prevButtons & 1) != 0;
        prevButtons = d;
        if (hit) {
            // Once per press: on the press itself, and only when the mouse
            // was over the box before it went down.
            if (left && !wasLeft && hotkeyPhase == 1)
                Toggle(notes, n);
            else if (!left && hotkeyPhase == 0)
                hotkeyPhase = 1;
        } else if (hotkeyPhase != 2) {
            hotkeyPhase = 0;
        }
        result = hit ? 1 : 0;
    } else {
        return 1;
    }
    Invalidate();
    SendNotes(notes, n);
    return result;
}

int32_t CCheckbox::BoxSide()
{
    if (look != 0 && (flags & CNTRL_HASBITMAP) != 0 && bitmaps[0] != nullptr)
        return bitmaps[0]->width;
    return std::clamp(height - 4, 0, 13);
}

void CCheckbox::DrawBox(int32_t l, int32_t t, int32_t side, int32_t round)
{
    CScreenBase* s = Screen();
    if (s == nullptr || side <= 0)
        return;
    const bool on = state == XGUI_CHECKED || (state == XGUI_DISABLED && rememberedState == XGUI_CHECKED);
    if (look != 0 && (flags & CNTRL_HASBITMAP) != 0) {
        // Own pictures: unchecked, checked, (highlight), disabled.
        CBitmap* bm = state == XGUI_DISABLED && bitmaps[3] != nullptr ? bitmaps[3]
                      : on && bitmaps[1] != nullptr                   ? bitmaps[1]
                                                                      : bitmaps[0];
        if (bm != nullptr)
            s->DrawBitmapScreenGui(bm, 0, 0, l, t, bm->width, bm->height,
                                   (flags & CNTRL_BMTRANS) != 0 ? XBLT_COLORKEY : 0, 0);
        return;
    }
    TCntrlColor* set = StateColors();
    TRGBA ink = set != nullptr ? set->colors[0] : TRGBA(0, 0, 0);
    TRGBA face = state != XGUI_DISABLED ? kBoxFace : set != nullptr ? set->colors[2] : kBoxDisabled;
    if (round) {
        Disc(s, l, t, side, ink);
        Disc(s, l + 1, t + 1, side - 2, face);
        if (on)
            Disc(s, l + side / 2 - side / 4, t + side / 2 - side / 4, side / 2, ink);
        return;
    }
    s->FillRect(l, t, side, side, ink);
    s->FillRect(l + 1, t + 1, side - 2, side - 2, face);
    if (!on)
        return;
    CWinCtrl* r = Root();
    CBitmap* mark = r != nullptr ? r->defCheck : nullptr;
    if (mark != nullptr) {
        s->PushClip();
        s->SetSubClip(l + 1, t + 1, l + side - 2, t + side - 2);
        s->DrawBitmapScreenGui(mark, 0, 0, l + (side - mark->width) / 2, t + (side - mark->height) / 2,
                               mark->width, mark->height, XBLT_COLORKEY, 0);
        s->PopClip();
    } else {
        s->FillRect(l + 3, t + 3, side - 6, side - 6, ink);
    }
}

int32_t CCheckbox::Draw(int32_t wx, int32_t wy, int32_t how) { return DrawBoxed(wx, wy, how, 0); }

int32_t CCheckbox::DrawBoxed(int32_t wx, int32_t wy, int32_t how, int32_t round)
{
    if (state == XGUI_HIDDEN || !visible)
        return 1;
    CScreenBase* s = Screen();
    if (s == nullptr)
        return 0;
    const int32_t keepFlags = flags;
    char* keepText = text;
    // The face without picture and caption; those go beside the box.
    flags &= ~CNTRL_HASBITMAP;
    text = nullptr;
    DrawFace(wx, wy);
    flags = keepFlags;
    text = keepText;
    const int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel : 0;
    const int32_t side = BoxSide();
    const int32_t l = wx + x + in + 2, t = wy + y + (height - side) / 2;
    DrawBox(l, t, side, round);
    const int32_t tx = l + side + 4;
    DrawCaption(text, tx, wy + y + in, wx + x + width - in - tx, height - 2 * in, 0, XTEXT_CENTERV);
    return CControlBase::Draw(wx, wy, how);
}

// ---- CRadiobutton

CRadiobutton::~CRadiobutton()
{
    if (group != nullptr)
        group->Remove(this);
}

int32_t CRadiobutton::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h,
                             int32_t value, int16_t key, int32_t f)
{
    return CCheckbox::Create(newId, t, px, py, w, h, value, key, f);
}

int32_t CRadiobutton::Destroy()
{
    if (group != nullptr)
        group->Remove(this);
    return CCheckbox::Destroy();
}

int32_t CRadiobutton::SetParent(int32_t pid, CWindowBase* win, CGroupbox* box)
{
    CCheckbox::SetParent(pid, win);
    if (box != nullptr && box != group) {
        if (group != nullptr)
            group->Remove(this);
        return box->Add(this);
    }
    return 1;
}

void CRadiobutton::SelectInto(int32_t* notes, int32_t& count)
{
    pendingState = XGUI_CHECKED;
    notes[count++] = XNOTE_CHECKED;
}

int32_t CRadiobutton::Select()
{
    if (state == XGUI_CHECKED || state == XGUI_DISABLED || state == XGUI_HIDDEN)
        return 0;
    CWinCtrl* r = Root();
    if (r != nullptr)
        ++r->passDepth;
    int32_t notes[kMaxNotes];
    int32_t n = 0;
    SelectInto(notes, n);
    Invalidate();
    SendNotes(notes, n);
    if (group != nullptr)
        group->GuiMsgHandler(XNOTE_GROUPSELECT, parentId, id, id, this);
    if (r != nullptr) {
        --r->passDepth;
        r->EndPass();
    }
    return 1;
}

int32_t CRadiobutton::SetSelected(int32_t on)
{
    if (!on)
        return SetChecked(0);
    if (group != nullptr)
        return group->SetSelected(id);
    return SetChecked(1);
}

int32_t CRadiobutton::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible || (flags & CNTRL_READONLY) != 0)
        return 0;
    if (msg == XNOTE_UNCHECKED) {
        // From the group box: another member was selected.
        if (state == XGUI_CHECKED) {
            int32_t note = XNOTE_UNCHECKED;
            pendingState = XGUI_UNCHECKED;
            Invalidate();
            SendNotes(&note, 1);
        }
        return 1;
    }
    if (msg == 0) {
        const auto* k = static_cast<const TGuiKey*>(data);
        if (hotkey == 0 || k == nullptr || k->key != static_cast<uint16_t>(hotkey))
            return 1;
        if ((k->flags & 1) != 0) {
            if (hotkeyPhase != 2) {
                hotkeyPhase = 2;
                Select();
            }
        } else if (hotkeyPhase == 2) {
            hotkeyPhase = 0;
        }
        return 1;
    }
    if (msg != 8)
        return 1;
    const bool hit = mouseArea.IsPntInRect(a, b) != 0;
    const bool left = (d & 1) != 0, wasLeft = (prevButtons & 1) != 0;
    prevButtons = d;
    if (hit) {
        if (left && !wasLeft && hotkeyPhase == 1) {
            Select(); // last: the notes may end this control
            return 1;
        }
        if (!left && hotkeyPhase == 0)
            hotkeyPhase = 1;
    } else if (hotkeyPhase != 2) {
        hotkeyPhase = 0;
    }
    return hit ? 1 : 0;
}

int32_t CRadiobutton::Draw(int32_t wx, int32_t wy, int32_t how) { return DrawBoxed(wx, wy, how, 1); }

// ---- CGroupbox

CGroupbox::~CGroupbox() { Destroy(); }

int32_t CGroupbox::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int32_t f)
{
    CControlBase::Create(newId);
    SetText(t);
    x = px;
    y = py;
    width = w;
    height = h;
    mouseArea.SetXYWH(x, y, width, height);
    flags = f;
    hotkeyPhase = 0;
    textColor = TRGBA(0, 0, 0);
    CWinCtrl* r = Root();
    if (r != nullptr) {
        SetColors(r->defFrame[0], r->defFrame[1], r->defFrame[2], r->defFrame[3]);
        font = r->defFont;
        cursor = r->defCursor;
    }
    return 1;
}

int32_t CGroupbox::Destroy()
{
    while (members.First()) {
        auto* c = static_cast<CControlBase*>(members.Get());
        members.Delete();
        if (auto* radio = dynamic_cast<CRadiobutton*>(c); radio != nullptr && radio->group == this)
            radio->group = nullptr;
    }
    return CControlBase::Destroy();
}

int32_t CGroupbox::Add(CControlBase* c)
{
    if (c == nullptr || c == this)
        return 0;
    for (int16_t ok = members.First(); ok; ok = members.Next())
        if (members.Get() == c)
            return 1;
    if (!members.InsertLast(c))
        return 0;
    if (auto* radio = dynamic_cast<CRadiobutton*>(c); radio != nullptr) {
        if (radio->group != nullptr && radio->group != this)
            radio->group->Remove(radio);
        radio->group = this;
    }
    return 1;
}

int32_t CGroupbox::Remove(CControlBase* c)
{
    for (int16_t ok = members.First(); ok; ok = members.Next())
        if (members.Get() == c) {
            members.Delete();
            if (auto* radio = dynamic_cast<CRadiobutton*>(c); radio != nullptr && radio->group == this)
                radio->group = nullptr;
            return 1;
        }
    return 0;
}

int32_t CGroupbox::GetSelected()
{
    members.Push();
    int32_t found = 0;
    for (int16_t ok = members.First(); ok && found == 0; ok = members.Next()) {
        auto* radio = dynamic_cast<CRadiobutton*>(static_cast<CControlBase*>(members.Get()));
        if (radio != nullptr && radio->GetState() == XGUI_CHECKED)
            found = radio->GetID();
    }
    members.Pop();
    return found;
}

int32_t CGroupbox::SetSelected(int32_t memberId)
{
    int32_t found = memberId == 0 ? 1 : 0;
    members.Push();
    for (int16_t ok = members.First(); ok; ok = members.Next()) {
        auto* radio = dynamic_cast<CRadiobutton*>(static_cast<CControlBase*>(members.Get()));
        if (radio == nullptr)
            continue;
        if (memberId != 0 && radio->GetID() == memberId) {
            radio->SetChecked(1);
            found = 1;
        } else {
            radio->SetChecked(0);
        }
    }
    members.Pop();
    return found;
}

int32_t CGroupbox::GuiMsgHandler(int32_t msg, int32_t, int32_t, int32_t, void* data)
{
    if (msg == 8)
        return 0;
    if (msg != XNOTE_GROUPSELECT)
        return 1;
    // The others are told one by one; the selecting radio button keeps the
    // root in a pass meanwhile, so no notification runs in between.
    std::vector<CControlBase*> others;
    members.Push();
    for (int16_t ok = members.First(); ok; ok = members.Next()) {
        auto* c = static_cast<CControlBase*>(members.Get());
        if (c != data && dynamic_cast<CRadiobutton*>(c) != nullptr)
            others.push_back(c);
    }
    members.Pop();
    for (CControlBase* c : others)
        c->GuiMsgHandler(XNOTE_UNCHECKED, 0, 0, 0, nullptr);
    return 1;
}

int32_t CGroupbox::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = Screen();
    if (s == nullptr || state == XGUI_HIDDEN || !visible)
        return s == nullptr ? 0 : 1;
    CWinCtrl* r = Root();
    CFont* f = font != nullptr ? font : r != nullptr ? r->defFont : nullptr;
    TCntrlColor* set = colors[state == XGUI_DISABLED ? 3 : 0] != nullptr
                           ? colors[state == XGUI_DISABLED ? 3 : 0]
                           : colors[0];
    const int32_t l = wx + x, t = wy + y;
    const int32_t half = f != nullptr ? f->height / 2 : 0;
    if (set != nullptr) {
        const TRGBA* c = set->colors;
        // No fill: the members may be drawn before the box.
        // An etched frame: a shaded line with a lit one inside it.
        const int32_t ft = t + half, r2 = l + width - 1, b = t + height - 1;
        s->DrawLine(l, ft, r2 - 1, ft, c[3]);
        s->DrawLine(l, ft, l, b - 1, c[3]);
        s->DrawLine(l, b - 1, r2 - 1, b - 1, c[3]);
        s->DrawLine(r2 - 1, ft, r2 - 1, b - 1, c[3]);
        s->DrawLine(l + 1, ft + 1, r2 - 2, ft + 1, c[1]);
        s->DrawLine(l + 1, ft + 1, l + 1, b - 2, c[1]);
        s->DrawLine(l, b, r2, b, c[1]);
        s->DrawLine(r2, ft, r2, b, c[1]);
        if (f != nullptr && text != nullptr && text[0] != 0) {
            // The caption sits on the frame line with the face behind it.
            int32_t tw = std::min(f->GetTextWidth(text, static_cast<int16_t>(std::min(width, 32767)),
                                                  f->height, XTEXT_SINGLELINE),
                                  width - 16);
            if (tw > 0) {
                s->FillRect(l + 6, t, tw + 4, f->height, c[2]);
                if (f->FindColor(textColor) == nullptr)
                    f->CreateColor(textColor);
                TRGBA tc = textColor;
                s->PushClip();
                s->SetSubClip(l + 8, t, l + 8 + tw - 1, t + f->height - 1);
                f->Text(XTEXT_GUI, text, static_cast<int16_t>(l + 8), static_cast<int16_t>(t),
                        static_cast<int16_t>(tw), f->height, &tc, nullptr, XTEXT_SINGLELINE);
                s->PopClip();
            }
        }
    }
    return CControlBase::Draw(wx, wy, how);
}
