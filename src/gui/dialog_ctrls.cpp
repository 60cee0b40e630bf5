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

// The values of a "Create" item, read in order by kind.
class CreateValues
{
  public:
    explicit CreateValues(SDlgRead& r) : m_r(r) {}

    // Finds the item; FALSE (reported) when the chunk has none.
    bool Find()
    {
        if (m_r.res->FindItem("Create"))
            return true;
        xErrorf("\"Create\" keyword missing for %s cntrl", m_r.kind);
        return false;
    }
    char* Text(int32_t i)
    {
        char* s = m_r.res->GetString(i);
        m_good = m_good && s != nullptr;
        return s;
    }
    int32_t Long(int32_t i)
    {
        int32_t v = 0;
        m_good = m_good && m_r.res->GetLong(i, &v) != 0;
        return v;
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
    // FALSE (reported) when a value was missing or malformed. cntrl picks
    // the message of the kinds created from numbers only.
    bool Good(bool cntrl)
    {
        if (m_good)
            return true;
        if (cntrl)
            xErrorf("Unable to get the cntrl create data for \"%s\"", m_r.idName);
        else
            xErrorf("Unable to get the create data for \"%s\"", m_r.idName);
        return false;
    }

  private:
    SDlgRead& m_r;
    bool m_good = true;
};

// The result of a kind's Create: the control, or null after discarding it.
CControlBase* Created(SDlgRead& r, CControlBase* c, int32_t ok)
{
    if (c == nullptr) {
        xError_Func(XERR_OUT_OF_MEMORY, __FILE__, __LINE__);
        return nullptr;
    }
    if (ok)
        return c;
    xDlgDiscard(c);
    xErrorf("Unable to create the \"%s\" %s ctrl", r.idName, r.kind);
    return nullptr;
}

CControlBase* ReadStatic(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4), f = v.Flags(5);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CStatic);
    CControlBase* done = Created(r, c, c != nullptr && c->Create(text, x, y, w, h, f));
    if (done != nullptr)
        done->SetID(r.id);
    return done;
}

CControlBase* ReadButton(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4);
    int16_t key = v.Hotkey(5);
    int32_t f = v.Flags(6);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CButton);
    return Created(r, c, c != nullptr && c->Create(r.id, text, x, y, w, h, key, f));
}

CControlBase* ReadProgress(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    int32_t x = v.Long(0), y = v.Long(1), w = v.Long(2), h = v.Long(3), f = v.Flags(4);
    if (!v.Good(true))
        return nullptr;
    auto* c = XNEW(CProgress);
    return Created(r, c, c != nullptr && c->Create(r.id, x, y, w, h, f));
}

CControlBase* ReadTimeout(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    int32_t n[7];
    for (int32_t i = 0; i < 7; ++i)
        n[i] = v.Long(i);
    int32_t f = v.Flags(7);
    if (!v.Good(true))
        return nullptr;
    auto* c = XNEW(CTimeout);
    return Created(r, c, c != nullptr && c->Create(r.id, n[0], n[1], n[2], n[3], n[4], n[5], n[6], f));
}

CControlBase* ReadGroupbox(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4), f = v.Flags(5);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CGroupbox);
    return Created(r, c, c != nullptr && c->Create(r.id, text, x, y, w, h, f));
}

// Check boxes and radio buttons: text, x, y, w, h, a number of the kind,
// hotkey, flags; then "Caption" (replaces the text drawn beside the box)
// and "Flags" (added to the caption's, which is the control's own).
template <class T> CControlBase* ReadCheckKind(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4), n = v.Long(5);
    int16_t key = v.Hotkey(6);
    int32_t f = v.Flags(7);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(T);
    CControlBase* done = Created(r, c, c != nullptr && c->Create(r.id, text, x, y, w, h, n, key, f));
    if (done == nullptr)
        return nullptr;
    if (r.res->FindItem("Caption")) {
        if (r.res->GetString(0) == nullptr) {
            xDlgDiscard(done);
            xErrorf("Unable to get the caption in the \"%s\" %s ctrl", r.idName, r.kind);
            return nullptr;
        }
        done->SetText(r.res->GetString(0));
    }
    if (r.res->FindItem("Flags")) {
        int32_t extra = 0;
        if (r.res->GetString(0) == nullptr || !r.res->GetResFlags(0, &extra)) {
            xDlgDiscard(done);
            xErrorf("Unable to get the caption flags in the \"%s\" %s ctrl", r.idName, r.kind);
            return nullptr;
        }
        done->SetFlag(extra);
    }
    return done;
}

CControlBase* ReadScrolltext(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4), step = v.Long(5), f = v.Flags(6);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CScrollText);
    if (Created(r, c, c != nullptr && c->Create(text, x, y, w, h, step, f)) == nullptr)
        return nullptr;
    c->SetID(r.id);
    if (r.res->FindItem("Text")) {
        if (r.res->GetString(0) == nullptr) {
            xDlgDiscard(c);
            xErrorf("Unable to get the text in the \"%s\" %s ctrl", r.idName, r.kind);
            return nullptr;
        }
        c->SetText(r.res->GetString(0));
    }
    if (r.res->FindItem("Delay")) {
        int32_t ms = 0;
        if (!r.res->GetLong(0, &ms) || ms < 1) {
            xDlgDiscard(c);
            xErrorf("Unable to get the delay in the \"%s\" %s ctrl", r.idName, r.kind);
            return nullptr;
        }
        c->Start(ms);
    }
    return c;
}

CControlBase* ReadURL(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    char* url = v.Text(1);
    int32_t x = v.Long(2), y = v.Long(3), w = v.Long(4), h = v.Long(5);
    int16_t key = v.Hotkey(6);
    int32_t f = v.Flags(7);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CURL);
    return Created(r, c, c != nullptr && c->Create(r.id, text, url, x, y, w, h, key, f));
}

// Edit fields: text, x, y, w, h, maximum length, flags, second flags (added
// after Create, which sets flags of its own).
template <class T> CControlBase* ReadEditKind(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    char* text = v.Text(0);
    int32_t x = v.Long(1), y = v.Long(2), w = v.Long(3), h = v.Long(4), len = v.Long(5);
    int32_t f = v.Flags(6), f2 = v.Flags(7);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(T);
    CControlBase* done = Created(r, c, c != nullptr && c->Create(r.id, text, x, y, w, h, len, f));
    if (done != nullptr && f2 != 0)
        done->SetFlag(f2);
    return done;
}

// Sliders: x, y, w, h, min, max, value, page, flags; "Flags", "Down" and
// "Drag" add flags to its first arrow, its second arrow and its thumb.
CControlBase* ReadSlider(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    int32_t n[8];
    for (int32_t i = 0; i < 8; ++i)
        n[i] = v.Long(i);
    int32_t f = v.Flags(8);
    if (!v.Good(true))
        return nullptr;
    auto* c = XNEW(CSlider);
    if (Created(r, c, c != nullptr && c->Create(r.id, n[0], n[1], n[2], n[3], n[4], n[5], n[6], n[7], f)) ==
        nullptr)
        return nullptr;
    const struct {
        const char* item;
        CControlBase* part;
    } parts[] = {{"Flags", c->lower}, {"Down", c->higher}, {"Drag", c->thumb}};
    for (const auto& p : parts) {
        if (!r.res->FindItem(p.item))
            continue;
        int32_t extra = 0;
        if (r.res->GetString(0) == nullptr || !r.res->GetResFlags(0, &extra)) {
            xDlgDiscard(c);
            xErrorf("Unable to get the %s flags in the \"%s\" %s ctrl", p.item, r.idName, r.kind);
            return nullptr;
        }
        if (p.part != nullptr)
            p.part->SetFlag(extra);
    }
    return c;
}

// The "Text" items of a list or combo box, in order, as its entries; each
// entry keeps its own copy of the text.
template <class T> bool ReadEntries(SDlgRead& r, T* c, CListbox* list)
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
            return false;
        }
    }
    return true;
}

// List boxes: x, y, w, h, field height, (a value not read), flags.
CControlBase* ReadListbox(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    int32_t x = v.Long(0), y = v.Long(1), w = v.Long(2), h = v.Long(3), field = v.Long(4), f = v.Flags(6);
    if (!v.Good(true))
        return nullptr;
    auto* c = XNEW(CListbox);
    if (Created(r, c, c != nullptr && c->Create(r.id, x, y, w, h, field, f)) == nullptr)
        return nullptr;
    if (!ReadEntries(r, c, c)) {
        xDlgDiscard(c);
        return nullptr;
    }
    return c;
}

// Combo boxes: x, y, w, h, list height, hotkey, flags, second flags.
CControlBase* ReadCombobox(SDlgRead& r)
{
    CreateValues v(r);
    if (!v.Find())
        return nullptr;
    int32_t x = v.Long(0), y = v.Long(1), w = v.Long(2), h = v.Long(3), listH = v.Long(4);
    int16_t key = v.Hotkey(5);
    int32_t f = v.Flags(6), f2 = v.Flags(7);
    if (!v.Good(true))
        return nullptr;
    auto* c = XNEW(CCombobox);
    if (Created(r, c, c != nullptr && c->Create(r.id, x, y, w, h, listH, key, f)) == nullptr)
        return nullptr;
    if (f2 != 0)
        c->SetFlag(f2);
    if (!ReadEntries(r, c, c->list)) {
        xDlgDiscard(c);
        return nullptr;
    }
    return c;
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
    CreateValues v(r);
    char* text = v.Text(1);
    int32_t x = v.Long(2), y = v.Long(3), w = v.Long(4), h = v.Long(5), f = v.Flags(6);
    if (!v.Good(false))
        return nullptr;
    auto* c = XNEW(CStatic);
    CControlBase* done = Created(r, c, c != nullptr && c->Create(text, x, y, w, h, f));
    if (done != nullptr)
        done->SetID(id);
    return done;
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
