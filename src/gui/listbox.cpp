// The list box and the combo box. Entries are controls the list owns, laid
// out one field high from the first visible entry down; the list's slider
// scrolls them. The owned slider, entries and drop button report to their
// owner directly (their notifications reach no application); the owner
// tells the window of a new selection (15) as the last thing it does, so a
// handler may destroy the window and the list.
#include "ctlutil.h"

#include <tarvex/listbox.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <algorithm>
#include <climits>
#include <cstring>

using tvgui::SAlive;

namespace
{
constexpr int32_t kNoWindow = INT32_MIN;
const TRGBA kSelection(0, 0, 128);
const TRGBA kSelectedText(255, 255, 255);

void Release(CControlBase* c)
{
    c->Destroy();
    XDELETE(c);
}
} // namespace

CListbox::~CListbox()
{
    SAlive::Kill(alive);
    while (entries.First()) {
        auto* c = static_cast<CControlBase*>(entries.Get());
        entries.Delete();
        XDELETE(c);
    }
    if (slider != nullptr)
        XDELETE(slider);
}

int32_t CListbox::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t fh, int32_t f)
{
    // Entries are numbered by dividing by the field height.
    if (fh < 1)
        return 0;
    fieldHeight = fh;
    tvgui::Setup(this, newId, px, py, w, h, 0, f, tvgui::kButtonSets);
    bevel = 1;
    textColor = TRGBA(0, 0, 0);
    selected = 0;
    firstVisible = 1;
    if (slider == nullptr)
        slider = XNEW(CSlider);
    int32_t in = tvgui::Inset(this);
    slider->Create(newId + 10002, x + w - in - XLIST_SLIDERWIDTH, y + in, XLIST_SLIDERWIDTH, h - 2 * in, 1, 1,
                   1, 1, 0);
    if (parent != nullptr)
        SetParent(parentId, parent);
    Layout();
    Validate();
    return 1;
}

int32_t CListbox::Destroy()
{
    SAlive::Kill(alive);
    while (entries.First()) {
        auto* c = static_cast<CControlBase*>(entries.Get());
        entries.Delete();
        Release(c);
    }
    if (slider != nullptr)
        Release(slider);
    slider = nullptr;
    selected = 0;
    firstVisible = 1;
    return CControlBase::Destroy();
}

int32_t CListbox::SetParent(int32_t pid, CWindowBase* win)
{
    CControlBase::SetParent(pid, win);
    if (slider != nullptr)
        slider->SetParent(kNoWindow, win);
    for (int16_t ok = entries.First(); ok; ok = entries.Next())
        static_cast<CControlBase*>(entries.Get())->SetParent(kNoWindow, win);
    return 1;
}

int32_t CListbox::SetPos(int32_t px, int32_t py)
{
    CControlBase::SetPos(px, py);
    Layout();
    return 1;
}

int32_t CListbox::SetSize(int32_t w, int32_t h)
{
    CControlBase::SetSize(w, h);
    Layout();
    return 1;
}

int32_t CListbox::VisibleEntries() const
{
    return std::max((height - 2 * tvgui::Inset(this)) / fieldHeight, 0);
}

void CListbox::Layout()
{
    if (slider == nullptr || fieldHeight < 1)
        return;
    const int32_t in = tvgui::Inset(this), n = entries.GetNumNodes();
    slider->SetPos(x + width - in - XLIST_SLIDERWIDTH, y + in);
    slider->SetSize(XLIST_SLIDERWIDTH, height - 2 * in);
    if (n == 0)
        slider->SetRange(1, 1, 1);
    else
        slider->SetRange(0, n, std::max(VisibleEntries(), 1));
    // The last page starts at the largest first entry; no blank rows below.
    firstVisible = std::clamp(firstVisible, 1, std::max(n - std::max(VisibleEntries(), 1) + 1, 1));
    // Values 0 and 1 both show entry 1: at the top the thumb sits at the top.
    slider->SetValue(firstVisible == 1 ? 0 : firstVisible);
    const int32_t w = std::max(width - 2 * in - XLIST_SLIDERWIDTH, 0);
    int32_t i = 1;
    for (int16_t ok = entries.First(); ok; ok = entries.Next(), ++i) {
        auto* c = static_cast<CControlBase*>(entries.Get());
        c->SetPos(x + in, y + in + (i - firstVisible) * fieldHeight);
        c->SetSize(w, fieldHeight);
    }
}

int32_t CListbox::Add(const char* t)
{
    auto* s = XNEW(CStatic);
    s->Create(t, 0, 0, 1, 1, CNTRL_TRANSPARENT | CNTRL_CENTERV);
    s->textColor = textColor;
    // The entry keeps its own copy of the text.
    if (t != nullptr && s->MakeTextWritable(static_cast<int32_t>(std::strlen(t)) + 1) == nullptr) {
        Release(s);
        return 0;
    }
    return Add(s);
}

int32_t CListbox::Add(CControlBase* c)
{
    if (c == nullptr)
        return 0;
    if (slider == nullptr || !entries.InsertLast(c)) {
        Release(c);
        return 0;
    }
    c->SetParent(kNoWindow, parent);
    Layout();
    Validate();
    return 1;
}

CControlBase* CListbox::GetEntry(int32_t n)
{
    if (n < 1 || n > entries.GetNumNodes())
        return nullptr;
    return static_cast<CControlBase*>(entries.Get(static_cast<uint32_t>(n - 1)));
}

CControlBase* CListbox::GetSelectedControl() { return GetEntry(selected); }

int32_t CListbox::GetFieldHeight(int32_t& h)
{
    h = fieldHeight;
    return 1;
}

int32_t CListbox::RemoveAll()
{
    while (entries.First()) {
        auto* c = static_cast<CControlBase*>(entries.Get());
        entries.Delete();
        Release(c);
    }
    selected = 0;
    firstVisible = 1;
    Layout();
    Validate();
    return 1;
}

int32_t CListbox::Remove(int32_t n)
{
    CControlBase* c = GetEntry(n);
    if (c == nullptr)
        return 0;
    entries.Delete();
    Release(c);
    const int32_t left = entries.GetNumNodes();
    if (selected > n)
        --selected;
    else if (selected == n)
        selected = std::min(n, left);
    Layout();
    Validate();
    return 1;
}

void CListbox::Follow(int32_t n)
{
    const int32_t vis = std::max(VisibleEntries(), 1);
    if (n < firstVisible)
        firstVisible = n;
    else if (n >= firstVisible + vis)
        firstVisible = n - vis + 1;
    Layout();
}

int32_t CListbox::SetSelected(int32_t n)
{
    if (n < 1 || n > entries.GetNumNodes())
        return 0;
    selected = n;
    Follow(n);
    Validate();
    tvgui::Send(this, alive, 15);
    return 1;
}

int32_t CListbox::EntryAt(int32_t px, int32_t py)
{
    const int32_t in = tvgui::Inset(this);
    const int32_t l = x + in, t = y + in, w = width - 2 * in - XLIST_SLIDERWIDTH;
    const int32_t vis = VisibleEntries();
    if (px < l || px >= l + w || py < t || py >= t + vis * fieldHeight)
        return 0;
    const int32_t n = (py - t) / fieldHeight + firstVisible;
    return n <= entries.GetNumNodes() ? n : 0;
}

int32_t CListbox::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible || slider == nullptr)
        return 0;
    if (msg == 0) {
        tvgui::HotkeyPhaseOnly(this, data);
        return 1;
    }
    if (msg != 8)
        return 1;
    const int32_t before = selected;
    const bool left = (d & 1) != 0, wasLeft = (prevButtons & 1) != 0;
    prevButtons = d;
    const bool inside = mouseArea.IsPntInRect(a, b) != 0;
    int32_t result = inside ? 1 : 0;
    const int32_t sr = tvgui::Forward(this, slider, a, b, d);
    // The slider moves the first visible entry (the top shows entry 1 at
    // the slider's lowest values).
    const int32_t top = std::max(slider->GetValue(), 1);
    if (top != firstVisible) {
        firstVisible = top;
        Layout();
        Validate();
    }
    if (sr != 0) {
        result = sr;
    } else if (int32_t n = EntryAt(a, b)) {
        if (CControlBase* c = GetEntry(n))
            tvgui::Forward(this, c, a, b, d);
        if (left && !wasLeft) {
            selected = n;
            Validate();
        }
    }
    if (selected != before)
        tvgui::Send(this, alive, 15);
    return result;
}

int32_t CListbox::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = tvgui::Screen();
    if (s == nullptr || !visible || state == XGUI_HIDDEN || slider == nullptr)
        return 1;
    tvgui::DrawLook(this, wx + x, wy + y, width, height, true);
    const int32_t in = tvgui::Inset(this);
    const int32_t l = wx + x + in, t = wy + y + in, w = width - 2 * in - XLIST_SLIDERWIDTH;
    const int32_t vis = VisibleEntries();
    if (w > 0 && vis > 0) {
        s->PushClip();
        s->SetSubClip(l, t, l + w - 1, t + vis * fieldHeight - 1);
        for (int32_t n = firstVisible; n < firstVisible + vis; ++n) {
            CControlBase* c = GetEntry(n);
            if (c == nullptr)
                break;
            if (n == selected) {
                s->FillRect(l, t + (n - firstVisible) * fieldHeight, w, fieldHeight, kSelection);
                TRGBA keep = c->textColor;
                c->textColor = kSelectedText;
                c->Draw(wx, wy, how);
                c->textColor = keep;
            } else {
                c->Draw(wx, wy, how);
            }
            c->ClearClipListIndex();
        }
        s->PopClip();
    }
    slider->Draw(wx, wy, how);
    return CControlBase::Draw(wx, wy, how);
}

// ---- CCombobox

CCombobox::~CCombobox()
{
    SAlive::Kill(alive);
    if (drop != nullptr)
        XDELETE(drop);
    if (list != nullptr)
        XDELETE(list);
}

int32_t CCombobox::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t lh,
                          int16_t key, int32_t f)
{
    if (h < 1)
        return 0;
    tvgui::Setup(this, newId, px, py, w, h, key, f, tvgui::kButtonSets);
    bevel = 1;
    textColor = TRGBA(0, 0, 0);
    fieldHeight = h;
    listHeight = std::max(lh, 0);
    open = 0;
    if (drop == nullptr)
        drop = XNEW(CButton);
    if (list == nullptr)
        list = XNEW(CListbox);
    drop->Create(newId + XCOMBO_DROP, nullptr, px + w - XLIST_SLIDERWIDTH, py, XLIST_SLIDERWIDTH, h, 0,
                 CNTRL_EXTRUDED | CNTRL_HASBITMAP | CNTRL_BMTRANS);
    drop->bevel = 1;
    if (CWinCtrl* r = tvgui::Root())
        drop->SetBitmap(r->defDrop[0], r->defDrop[1], r->defDrop[2], r->defDrop[3]);
    list->Create(newId + XCOMBO_DROP + 1, px, py + h, w, listHeight, h, CNTRL_EXTRUDED);
    if (parent != nullptr)
        SetParent(parentId, parent);
    Validate();
    return 1;
}

int32_t CCombobox::Destroy()
{
    SAlive::Kill(alive);
    if (drop != nullptr)
        Release(drop);
    if (list != nullptr)
        Release(list);
    drop = nullptr;
    list = nullptr;
    open = 0;
    return CControlBase::Destroy();
}

int32_t CCombobox::SetParent(int32_t pid, CWindowBase* win)
{
    CControlBase::SetParent(pid, win);
    if (drop != nullptr)
        drop->SetParent(kNoWindow, win);
    if (list != nullptr)
        list->SetParent(kNoWindow, win);
    return 1;
}

int32_t CCombobox::SetPos(int32_t px, int32_t py)
{
    CControlBase::SetPos(px, py);
    if (drop != nullptr)
        drop->SetPos(px + width - XLIST_SLIDERWIDTH, py);
    if (list != nullptr)
        list->SetPos(px, py + fieldHeight);
    return 1;
}

int32_t CCombobox::Add(const char* t)
{
    if (list == nullptr || list->Add(t) == 0)
        return 0;
    if (list->selected == 0)
        list->selected = 1;
    Validate();
    return 1;
}

int32_t CCombobox::Add(CControlBase* c)
{
    if (list == nullptr) {
        if (c != nullptr)
            Release(c);
        return 0;
    }
    if (list->Add(c) == 0)
        return 0;
    if (list->selected == 0)
        list->selected = 1;
    Validate();
    return 1;
}

int32_t CCombobox::DeleteFirst()
{
    if (list == nullptr || list->Remove(1) == 0)
        return 0;
    Validate();
    return 1;
}

int32_t CCombobox::GetSelected() { return list != nullptr ? list->selected : 0; }

CControlBase* CCombobox::GetSelectedControl()
{
    return list != nullptr ? list->GetSelectedControl() : nullptr;
}

int32_t CCombobox::SetSelected(int32_t n)
{
    if (list == nullptr || list->SetSelected(n) == 0)
        return 0;
    Validate();
    tvgui::Send(this, alive, 15);
    return 1;
}

int32_t CCombobox::Open(int32_t on)
{
    on = on ? 1 : 0;
    if (on == open || list == nullptr)
        return 1;
    if (!on) {
        // What the list covered is drawn again.
        CRect r = ScreenRect();
        if (tvgui::Screen() != nullptr)
            tvgui::Screen()->AddClearAreaGui(r.left, r.top, r.right, r.bottom);
        if (tvgui::Root() != nullptr)
            tvgui::Root()->Validate(&r, 0);
    }
    open = on;
    SetSize(width, fieldHeight + (open ? listHeight : 0));
    Validate();
    return 1;
}

int32_t CCombobox::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN || !visible || list == nullptr)
        return 0;
    if (msg == 0) {
        const auto* k = static_cast<const TGuiKey*>(data);
        if (k != nullptr && hotkey != 0 && k->key == static_cast<uint16_t>(hotkey) && (k->flags & 1) != 0)
            Open(!open);
        return 1;
    }
    if (msg != 8)
        return 1;
    const int32_t before = list->selected;
    const bool left = (d & 1) != 0, wasLeft = (prevButtons & 1) != 0;
    prevButtons = d;
    const bool inside = mouseArea.IsPntInRect(a, b) != 0;
    const bool press = left && !wasLeft;
    const bool wasPressed = drop->state == XGUI_PRESSED;
    const int32_t dr = tvgui::Forward(this, drop, a, b, d);
    if (!wasPressed && drop->state == XGUI_PRESSED) {
        Open(!open);
    } else if (dr == 0 && open && inside && b >= y + fieldHeight) {
        tvgui::Forward(this, list, a, b, d);
        if (list->selected != before)
            Open(0);
    } else if (dr == 0 && press && inside) {
        Open(!open); // the field itself
    } else if (press && !inside) {
        Open(0); // a click elsewhere closes the list
    }
    if (list->selected != before) {
        Validate();
        tvgui::Send(this, alive, 15);
    }
    return inside ? 1 : 0;
}

int32_t CCombobox::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = tvgui::Screen();
    if (s == nullptr || !visible || state == XGUI_HIDDEN || list == nullptr)
        return 1;
    const int32_t l = wx + x, t = wy + y, in = tvgui::Inset(this);
    tvgui::DrawLook(this, l, t, width, fieldHeight, true);
    if (CControlBase* c = list->GetSelectedControl()) {
        tvgui::DrawText(tvgui::FontOf(this), c->GetTextBuffer(0), l + in + 2, t + in,
                        width - 2 * in - 4 - XLIST_SLIDERWIDTH, fieldHeight - 2 * in, textColor,
                        XTEXT_SINGLELINE | XTEXT_CENTERV);
    }
    drop->Draw(wx, wy, how);
    drop->ClearClipListIndex();
    if (open)
        list->Draw(wx, wy, how);
    return CControlBase::Draw(wx, wy, how);
}
