// The readers of the control kinds of window descriptions: each finds the
// kind's "Create" item in the control's chunk, reads its values in the
// kind's order (texts, numbers, a hotkey name, flag names), creates the
// control and reads the kind's own items ("Text" entries, "Caption",
// "Flags", "Delay", the slider's button flags). The items every control may
// have are read by dialog.cpp afterwards.
#include "dialog_internal.h"

#include <tarvex/error.h>
#include <tarvex/memory.h>

#include <tarvex/button.h>
#include <tarvex/checkbox.h>
#include <tarvex/static.h>
#include <tarvex/edit.h>
#include <tarvex/listbox.h>
#include <tarvex/slider.h>

#include <strings.h>

namespace
{

// A control's place and size, read as four numbers in a row.
struct SBox {
    int32_t x, y, w, h;
};

// The values of a "Create" item, read in order by kind; then Make creates
// the control from them.
class CreateValues
{
  public:
    // find: look for the item first (reported when the chunk has none; no
    // value is read then); otherwise the current item is the one.
    explicit CreateValues(SDlgRead& r, bool find = true) : m_r(r)
    {
        if (find && !m_r.res->FindItem("Create")) {
            xErrorf("\"Create\" keyword missing for %s cntrl", m_r.kind);
            m_found = m_good = false;
        }
    }
    char* Text(int32_t i)
    {
        char* s = m_good ? m_r.res->GetString(i) : nullptr;
        m_good = m_good && s != nullptr;
        return s;
    }
    int32_t Long(int32_t i)
    {
        int32_t v = 0;
        m_good = m_good && m_r.res->GetLong(i, &v) != 0;
        return v;
    }
    SBox Box(int32_t i)
    {
        SBox b;
        b.x = Long(i);
        b.y = Long(i + 1);
        b.w = Long(i + 2);
        b.h = Long(i + 3);
        return b;
    }
    int32_t Flags(int32_t i)
    {
        int32_t v = 0;
        m_good = m_good && m_r.res->GetString(i) != nullptr && m_r.res->GetResFlags(i, &v) != 0;
        return v;
    }
    int16_t Hotkey(int32_t i)
    {
        int16_t v = 0;
        m_good = m_good && m_r.res->GetString(i) != nullptr && m_r.res->GetHotkey(i, &v) != 0;
        return v;
    }
    // Creates a T with create(T*) once every value was read; null (reported,
    // nothing left) when the item or a value was missing or malformed, or
    // when creating failed. cntrl picks the message of the kinds created
    // from numbers only.
    template <class T, class F> T* Make(bool cntrl, F create)
    {
        if (!m_found)
            return nullptr;
        if (!m_good) {
            if (cntrl)
                xErrorf("Unable to get the cntrl create data for \"%s\"", m_r.idName);
            else
                xErrorf("Unable to get the create data for \"%s\"", m_r.idName);
            return nullptr;
        }
        auto* c = XNEW(T);
        if (c == nullptr) {
            xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
            return nullptr;
        }
        if (create(c))
            return c;
        xDlgDiscard(c);
        xErrorf("Unable to create the \"%s\" %s ctrl", m_r.idName, m_r.kind);
        return nullptr;
    }

  private:
    SDlgRead& m_r;
    bool m_found = true;
    bool m_good = true;
};

// Discards a control whose own item is malformed and reports which;
// always null.
CControlBase* BadItem(SDlgRead& r, CControlBase* c, const char* what)
{
    xDlgDiscard(c);
    xErrorf("Unable to get the %s in the \"%s\" %s ctrl", what, r.idName, r.kind);
    return nullptr;
}

// The current item's first value as flag names; FALSE when it is missing or
// malformed.
bool ItemFlags(SDlgRead& r, int32_t* v) { return r.res->GetString(0) != nullptr && r.res->GetResFlags(0, v); }

// Statics: text, x, y, w, h, flags from the value at first on. A static
// takes no id in Create; it is set afterwards.
CControlBase* StaticFrom(SDlgRead& r, CreateValues& v, int32_t first)
{
    char* text = v.Text(first);
    SBox b = v.Box(first + 1);
    int32_t f = v.Flags(first + 5);
    auto* c = v.Make<CStatic>(false, [&](CStatic* s) { return s->Create(text, b.x, b.y, b.w, b.h, f); });
    if (c != nullptr)
        c->SetID(r.id);
    return c;
}

CControlBase* ReadStatic(SDlgRead& r)
{
    CreateValues v(r);
    return StaticFrom(r, v, 0);
}

CControlBase* ReadButton(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    SBox b = v.Box(1);
    int16_t key = v.Hotkey(5);
    int32_t f = v.Flags(6);
    return v.Make<CButton>(false,
                           [&](CButton* c) { return c->Create(r.id, text, b.x, b.y, b.w, b.h, key, f); });
}

CControlBase* ReadProgress(SDlgRead& r)
{
    CreateValues v(r);
    SBox b = v.Box(0);
    int32_t f = v.Flags(4);
    return v.Make<CProgress>(true, [&](CProgress* c) { return c->Create(r.id, b.x, b.y, b.w, b.h, f); });
}

CControlBase* ReadTimeout(SDlgRead& r)
{
    CreateValues v(r);
    int32_t n[7];
    for (int32_t i = 0; i < 7; ++i)
        n[i] = v.Long(i);
    int32_t f = v.Flags(7);
    return v.Make<CTimeout>(
        true, [&](CTimeout* c) { return c->Create(r.id, n[0], n[1], n[2], n[3], n[4], n[5], n[6], f); });
}

CControlBase* ReadGroupbox(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    SBox b = v.Box(1);
    int32_t f = v.Flags(5);
    return v.Make<CGroupbox>(false,
                             [&](CGroupbox* c) { return c->Create(r.id, text, b.x, b.y, b.w, b.h, f); });
}

// Check boxes and radio buttons: text, x, y, w, h, a number of the kind,
// hotkey, flags; then "Caption" (replaces the text drawn beside the box)
// and "Flags" (added to the caption's, which is the control's own).
template <class T> CControlBase* ReadCheckKind(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    SBox b = v.Box(1);
    int32_t n = v.Long(5);
    int16_t key = v.Hotkey(6);
    int32_t f = v.Flags(7);
    T* c = v.Make<T>(false, [&](T* t) { return t->Create(r.id, text, b.x, b.y, b.w, b.h, n, key, f); });
    if (c == nullptr)
        return nullptr;
    if (r.res->FindItem("Caption")) {
        if (r.res->GetString(0) == nullptr)
            return BadItem(r, c, "caption");
        c->SetText(r.res->GetString(0));
    }
    if (r.res->FindItem("Flags")) {
        int32_t extra = 0;
        if (!ItemFlags(r, &extra))
            return BadItem(r, c, "caption flags");
        c->SetFlag(extra);
    }
    return c;
}

CControlBase* ReadScrolltext(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    SBox b = v.Box(1);
    int32_t step = v.Long(5), f = v.Flags(6);
    auto* c = v.Make<CScrollText>(
        false, [&](CScrollText* s) { return s->Create(text, b.x, b.y, b.w, b.h, step, f); });
    if (c == nullptr)
        return nullptr;
    c->SetID(r.id);
    if (r.res->FindItem("Text")) {
        if (r.res->GetString(0) == nullptr)
            return BadItem(r, c, "text");
        c->SetText(r.res->GetString(0));
    }
    if (r.res->FindItem("Delay")) {
        int32_t ms = 0;
        if (!r.res->GetLong(0, &ms) || ms < 1)
            return BadItem(r, c, "delay");
        c->Start(ms);
    }
    return c;
}

CControlBase* ReadURL(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    char* url = v.Text(1);
    SBox b = v.Box(2);
    int16_t key = v.Hotkey(6);
    int32_t f = v.Flags(7);
    return v.Make<CURL>(false,
                        [&](CURL* c) { return c->Create(r.id, text, url, b.x, b.y, b.w, b.h, key, f); });
}

// Edit fields: text, x, y, w, h, maximum length, flags, second flags (added
// after Create, which sets flags of its own).
template <class T> CControlBase* ReadEditKind(SDlgRead& r)
{
    CreateValues v(r);
    char* text = v.Text(0);
    SBox b = v.Box(1);
    int32_t len = v.Long(5);
    int32_t f = v.Flags(6), f2 = v.Flags(7);
    T* c = v.Make<T>(false, [&](T* t) { return t->Create(r.id, text, b.x, b.y, b.w, b.h, len, f); });
    if (c != nullptr && f2 != 0)
        c->SetFlag(f2);
    return c;
}

// Sliders: x, y, w, h, min, max, value, page, flags; "Flags", "Down" and
// "Drag" add flags to its first arrow, its second arrow and its thumb.
CControlBase* ReadSlider(SDlgRead& r)
{
    CreateValues v(r);
    int32_t n[8];
    for (int32_t i = 0; i < 8; ++i)
        n[i] = v.Long(i);
    int32_t f = v.Flags(8);
    auto* c = v.Make<CSlider>(
        true, [&](CSlider* s) { return s->Create(r.id, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], f); });
    if (c == nullptr)
        return nullptr;
    const struct {
        const char* item;
        const char* what;
        CControlBase* part;
    } parts[] = {{"Flags", "Flags flags", c->lower},
                 {"Down", "Down flags", c->higher},
                 {"Drag", "Drag flags", c->thumb}};
    for (const auto& p : parts) {
        if (!r.res->FindItem(p.item))
            continue;
        int32_t extra = 0;
        if (!ItemFlags(r, &extra))
            return BadItem(r, c, p.what);
        if (p.part != nullptr)
            p.part->SetFlag(extra);
    }
    return c;
}

// The "Text" items of a list or combo box, in order, as its entries; each
// entry keeps its own copy of the text. On failure the control is
// discarded (reported).
template <class T> CControlBase* ReadEntries(SDlgRead& r, T* c, CListbox* list)
{
    for (int32_t more = r.res->FirstItem(); more; more = r.res->NextItem()) {
        if (strcasecmp(r.res->GetKeyword(), "Text") != 0)
            continue;
        char* text = r.res->GetString(0);
        CControlBase* entry = nullptr;
        if (text == nullptr || !c->Add(text) || list == nullptr ||
            (entry = list->GetEntry(list->GetNumEntries())) == nullptr ||
            (entry->text != nullptr && !entry->textOwned && entry->MakeTextWritable(0) == nullptr)) {
            xErrorf("Unable to add the entries of the \"%s\" %s ctrl", r.idName, r.kind);
            xDlgDiscard(c);
            return nullptr;
        }
    }
    return c;
}

// List boxes: x, y, w, h, field height, (a value not read), flags.
CControlBase* ReadListbox(SDlgRead& r)
{
    CreateValues v(r);
    SBox b = v.Box(0);
    int32_t field = v.Long(4), f = v.Flags(6);
    auto* c =
        v.Make<CListbox>(true, [&](CListbox* l) { return l->Create(r.id, b.x, b.y, b.w, b.h, field, f); });
    return c == nullptr ? nullptr : ReadEntries(r, c, c);
}

// Combo boxes: x, y, w, h, list height, hotkey, flags, second flags.
CControlBase* ReadCombobox(SDlgRead& r)
{
    CreateValues v(r);
    SBox b = v.Box(0);
    int32_t listH = v.Long(4);
    int16_t key = v.Hotkey(5);
    int32_t f = v.Flags(6), f2 = v.Flags(7);
    auto* c = v.Make<CCombobox>(
        true, [&](CCombobox* cb) { return cb->Create(r.id, b.x, b.y, b.w, b.h, listH, key, f); });
    if (c == nullptr)
        return nullptr;
    if (f2 != 0)
        c->SetFlag(f2);
    return ReadEntries(r, c, c->list);
}

} // namespace

static const SDlgKind kKinds[] = {
    {"Static", "static", XDLG_STATIC, ReadStatic},
    {"Button", "button", XDLG_BUTTON, ReadButton},
    {"Progress", "progress", XDLG_PROGRESS, ReadProgress},
    {"Groupbox", "groupbox", XDLG_GROUPBOX, ReadGroupbox},
    {"Radio", "radio", XDLG_RADIO, ReadCheckKind<CRadiobutton>},
    {"Checkbox", "checkbox", XDLG_CHECKBOX, ReadCheckKind<CCheckbox>},
    {"Scrolltext", "scrolltext", XDLG_SCROLLTEXT, ReadScrolltext},
    {"Timeout", "timeout", XDLG_TIMEOUT, ReadTimeout},
    {"URL", "url", XDLG_URL, ReadURL},
    {"Edit", "edit", XDLG_EDIT, ReadEditKind<CEdit>},
    {"MultiEdit", "multiedit", XDLG_MULTIEDIT, ReadEditKind<CMultiEdit>},
    {"Slider", "slider", XDLG_SLIDER, ReadSlider},
    {"Combobox", "combobox", XDLG_COMBOBOX, ReadCombobox},
    {"Listbox", "listbox", XDLG_LISTBOX, ReadListbox},
};

const SDlgKind* xDlgFindKind(const char* name)
{
    if (name == nullptr)
        return nullptr;
    for (const SDlgKind& k : kKinds)
        if (strcasecmp(k.name, name) == 0)
            return &k;
    return nullptr;
}

const char* xDlgKindName(int32_t code)
{
    for (const SDlgKind& k : kKinds)
        if (k.code == code)
            return k.lower;
    return "control";
}

void xDlgDiscard(CControlBase* c)
{
    if (c == nullptr)
        return;
    c->Destroy();
    XDELETE(c);
}

CControlBase* xDlgCreateStatic(CResData* res, const char* idName, int32_t id)
{
    SDlgRead r{res, idName, id, "static"};
    CreateValues v(r, false);
    return StaticFrom(r, v, 1);
}

int32_t xDlgAddToGroup(CControlBase* group, CControlBase* c, int32_t)
{
    return static_cast<CGroupbox*>(group)->Add(c);
}

void xDlgReleaseGroup(CControlBase* group)
{
    auto* box = static_cast<CGroupbox*>(group);
    while (box->members.First()) {
        auto* m = static_cast<CControlBase*>(box->members.Get());
        if (!box->Remove(m) && box->members.First() && box->members.Get() == m)
            box->members.Delete();
    }
}

int32_t xDlgSetProgress(CControlBase* c, int32_t value)
{
    return static_cast<CProgress*>(c)->SetValue(value);
}
