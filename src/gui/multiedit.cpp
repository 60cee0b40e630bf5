// The multi-line edit field: rows in a list, each with its own text buffer
// (the row's maximum length plus the terminator) and colour; a caret by row
// and column that the first visible row follows; Enter splits a row,
// Backspace and Delete join rows at their ends (only when the joined row
// still fits its buffer, so no text is lost); typed characters are bounded
// by the row length and, without a horizontal slider, by the field's width.
// The field's own sliders (CNTRL_EDITVSLIDER, CNTRL_EDITHSLIDER) are kept in
// step with the view after every change, and moving one of them scrolls the
// rows; like the list's slider they report to the field, not to the window.
#include "ctlutil.h"

#include <tarvex/edit.h>
#include <tarvex/keyboard.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <algorithm>
#include <climits>
#include <cstring>

using tvgui::SAlive;

namespace
{
// Sub-controls belong to the field: their notifications reach no window.
constexpr int32_t kNoWindow = INT32_MIN;

void Release(CSlider*& s)
{
    if (s == nullptr)
        return;
    s->Destroy();
    XDELETE(s);
    s = nullptr;
}

// Makes or drops one of the field's sliders as its flag asks; one that
// exists already is kept as it is.
void KeepSlider(CSlider*& s, bool wanted, int32_t id, int32_t sliderFlags)
{
    if (!wanted) {
        Release(s);
        return;
    }
    if (s != nullptr)
        return;
    s = XNEW(CSlider);
    if (s != nullptr)
        s->Create(id, 0, 0, XMEDIT_SLIDERWIDTH, XMEDIT_SLIDERWIDTH, 0, 0, 0, 1, sliderFlags);
}
} // namespace

CMultiEdit::~CMultiEdit()
{
    SAlive::Kill(alive);
    FreeRows();
    if (vslider != nullptr)
        XDELETE(vslider);
    if (hslider != nullptr)
        XDELETE(hslider);
}

int32_t CMultiEdit::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h,
                           int32_t maxLen, int32_t f)
{
    FreeRows();
    tvgui::Setup(this, newId, px, py, w, h, 0, f | CNTRL_MULTILINE, tvgui::kButtonSets);
    bevel = 1;
    maxLength = std::clamp(maxLen, 0, XEDIT_MAXLEN);
    textColor = TRGBA(0, 0, 0);
    caretRow = caretCol = upperLine = leftPixel = 0;
    caretOn = 0;
    // Sliders of an earlier Create carry its id.
    Release(vslider);
    Release(hslider);
    KeepSliders(flags);
    if (t != nullptr)
        SetTextBuffer(t, static_cast<int32_t>(std::strlen(t)));
    Changed();
    return 1;
}

int32_t CMultiEdit::Destroy()
{
    // The window may be gone already: no redraw requests from here.
    SAlive::Kill(alive);
    FreeRows();
    Release(vslider);
    Release(hslider);
    return CControlBase::Destroy();
}

int32_t CMultiEdit::KeepSliders(int32_t changed)
{
    if ((changed & (CNTRL_EDITVSLIDER | CNTRL_EDITHSLIDER)) == 0)
        return 1;
    KeepSlider(vslider, (flags & CNTRL_EDITVSLIDER) != 0, id + XMEDIT_VSLIDER, 0);
    KeepSlider(hslider, (flags & CNTRL_EDITHSLIDER) != 0, id + XMEDIT_HSLIDER, CNTRL_HSLIDER);
    if (parent != nullptr)
        SetParent(parentId, parent);
    Changed();
    return 1;
}

int32_t CMultiEdit::SetFlag(int32_t f)
{
    CControlBase::SetFlag(f);
    return KeepSliders(f);
}

int32_t CMultiEdit::RemoveFlag(int32_t f)
{
    CControlBase::RemoveFlag(f);
    return KeepSliders(f);
}

int32_t CMultiEdit::SetParent(int32_t pid, CWindowBase* win)
{
    CControlBase::SetParent(pid, win);
    for (CSlider* s : {vslider, hslider})
        if (s != nullptr)
            s->SetParent(kNoWindow, win);
    return 1;
}

int32_t CMultiEdit::SetPos(int32_t px, int32_t py)
{
    CControlBase::SetPos(px, py);
    Layout();
    return 1;
}

int32_t CMultiEdit::SetSize(int32_t w, int32_t h)
{
    CControlBase::SetSize(w, h);
    Layout();
    return 1;
}

int32_t CMultiEdit::TextAreaWidth() const
{
    return std::max<int32_t>(width - 2 * tvgui::Inset(this) - (vslider != nullptr ? XMEDIT_SLIDERWIDTH : 0),
                             0);
}

int32_t CMultiEdit::TextAreaHeight() const
{
    return std::max<int32_t>(height - 2 * tvgui::Inset(this) - (hslider != nullptr ? XMEDIT_SLIDERWIDTH : 0),
                             0);
}

int32_t CMultiEdit::WidestRow()
{
    CFont* f = tvgui::FontOf(this);
    if (f == nullptr)
        return 0;
    int32_t widest = 0;
    for (SLListNode* n = rows.first; n != nullptr; n = n->next)
        widest = std::max(widest, f->GetTextWidth(static_cast<TRowEntry*>(n->data)->text, 32767, f->height,
                                                  XTEXT_SINGLELINE));
    return widest;
}

void CMultiEdit::Layout()
{
    const int32_t in = tvgui::Inset(this), tw = TextAreaWidth(), th = TextAreaHeight();
    if (vslider != nullptr) {
        vslider->SetPos(x + in + tw, y + in);
        vslider->SetSize(XMEDIT_SLIDERWIDTH, th);
        // The thumb shows the visible share of the rows; a view scrolled
        // past the last full page (SetUpperLineNr) leaves it at the end.
        vslider->SetRange(0, std::max(rows.GetNumNodes() - 1, 0), std::max(GetVisibleLines(), 1));
        vslider->SetValue(upperLine);
    }
    if (hslider != nullptr) {
        hslider->SetPos(x + in, y + in + th);
        hslider->SetSize(tw, XMEDIT_SLIDERWIDTH);
        // Room for the caret behind the widest row.
        const int32_t room = std::max(tw - 4, 1), widest = WidestRow() + 2;
        hslider->SetRange(0, std::max(widest, room) - 1, room);
        leftPixel = std::clamp(leftPixel, 0, std::max(widest - room, 0));
        hslider->SetValue(leftPixel);
    } else {
        leftPixel = 0;
    }
}

void CMultiEdit::Changed()
{
    Layout();
    Validate();
}

TRowEntry* CMultiEdit::NewRow(const char* s, int32_t len)
{
    len = std::clamp(len, 0, maxLength);
    auto* e = static_cast<TRowEntry*>(XALLOC(sizeof(TRowEntry)));
    if (e == nullptr)
        return nullptr;
    e->size = maxLength + 1;
    e->color = textColor;
    e->text = static_cast<char*>(XALLOC(e->size));
    if (e->text == nullptr) {
        XFREE(e);
        return nullptr;
    }
    if (len > 0)
        std::memcpy(e->text, s, static_cast<size_t>(len));
    e->text[len] = 0;
    return e;
}

static void FreeRow(TRowEntry* e)
{
    XFREE(e->text);
    XFREE(e);
}

TRowEntry* CMultiEdit::Row(int32_t row)
{
    if (row < 0 || row >= rows.GetNumNodes())
        return nullptr;
    return static_cast<TRowEntry*>(rows.Get(static_cast<uint32_t>(row)));
}

int32_t CMultiEdit::RowLen(int32_t row)
{
    TRowEntry* e = Row(row);
    return e != nullptr ? static_cast<int32_t>(std::strlen(e->text)) : 0;
}

int32_t CMultiEdit::InsertRow(int32_t at, TRowEntry* e)
{
    if (e == nullptr)
        return 0;
    if (rows.GetNumNodes() >= kMaxRows) {
        FreeRow(e);
        return 0;
    }
    if (at >= rows.GetNumNodes()) {
        rows.InsertLast(e);
    } else {
        rows.Get(static_cast<uint32_t>(std::max(at, 0)));
        rows.InsertBefore(e);
    }
    return 1;
}

void CMultiEdit::RemoveRow(int32_t row)
{
    TRowEntry* e = Row(row);
    if (e == nullptr)
        return;
    rows.Delete();
    FreeRow(e);
}

int32_t CMultiEdit::AddNewLine(const char* line)
{
    const char* s = line != nullptr ? line : "";
    if (InsertRow(rows.GetNumNodes(), NewRow(s, static_cast<int32_t>(std::strlen(s)))) == 0)
        return 0;
    Changed();
    return 1;
}

int32_t CMultiEdit::DeleteFirstLine()
{
    if (rows.GetNumNodes() == 0)
        return 0;
    RemoveRow(0);
    caretRow = std::max(caretRow - 1, 0);
    upperLine = std::max(upperLine - 1, 0);
    Changed();
    return 1;
}

int32_t CMultiEdit::SetTextOnLine(int32_t row, const char* line)
{
    TRowEntry* e = Row(row);
    if (e == nullptr)
        return 0;
    size_t n = line != nullptr ? std::min(std::strlen(line), static_cast<size_t>(e->size - 1)) : 0;
    if (n > 0)
        std::memmove(e->text, line, n);
    e->text[n] = 0;
    if (row == caretRow)
        caretCol = std::min(caretCol, static_cast<int32_t>(n));
    Changed();
    return 1;
}

char* CMultiEdit::GetTextOnLine(int32_t row)
{
    TRowEntry* e = Row(row);
    return e != nullptr ? e->text : nullptr;
}

int32_t CMultiEdit::SetTextColorOnLine(int32_t row, TRGBA* color)
{
    TRowEntry* e = Row(row);
    if (e == nullptr || color == nullptr)
        return 0;
    e->color = *color;
    Validate();
    return 1;
}

void CMultiEdit::FreeRows()
{
    while (rows.First()) {
        auto* e = static_cast<TRowEntry*>(rows.Get());
        rows.Delete();
        FreeRow(e);
    }
    caretRow = caretCol = upperLine = leftPixel = 0;
}

int32_t CMultiEdit::KillText()
{
    FreeRows();
    Changed();
    return 1;
}

int32_t CMultiEdit::SetTextBuffer(const char* p, int32_t len)
{
    KillText();
    if (p == nullptr)
        return 1;
    int32_t start = 0, i = 0;
    for (; i < len && p[i] != 0; ++i)
        if (p[i] == '\n') {
            int32_t end = i > start && p[i - 1] == '\r' ? i - 1 : i;
            if (InsertRow(rows.GetNumNodes(), NewRow(p + start, end - start)) == 0)
                return 0;
            start = i + 1;
        }
    if (i > start || rows.GetNumNodes() > 0)
        if (InsertRow(rows.GetNumNodes(), NewRow(p + start, i - start)) == 0)
            return 0;
    Changed();
    return 1;
}

int32_t CMultiEdit::SetText(char* p)
{
    return SetTextBuffer(p, p != nullptr ? static_cast<int32_t>(std::strlen(p)) : 0);
}

// The rows hold the text, not the base's buffer: a paste becomes the rows.
int32_t CMultiEdit::PasteText(const char* p)
{
    SetText(const_cast<char*>(p));
    return 1;
}

int32_t CMultiEdit::GetTextBuffer(char*& out)
{
    int32_t total = 1, n = rows.GetNumNodes();
    for (int32_t r = 0; r < n; ++r)
        total += RowLen(r) + (r > 0 ? 1 : 0);
    out = nullptr;
    char* buf = AllocBuffer(total);
    if (buf == nullptr)
        return 0;
    char* w = buf;
    for (int16_t ok = rows.First(); ok; ok = rows.Next()) {
        if (rows.index > 0)
            *w++ = '\n';
        auto* e = static_cast<TRowEntry*>(rows.Get());
        size_t len = std::strlen(e->text);
        std::memcpy(w, e->text, len);
        w += len;
    }
    *w = 0;
    out = buf;
    return 1;
}

char* CMultiEdit::GetTextBuffer(int32_t refresh)
{
    char* out = nullptr;
    GetTextBuffer(out);
    if (refresh == 1)
        Validate();
    return out;
}

int32_t CMultiEdit::LineHeight() const
{
    CFont* f = tvgui::FontOf(this);
    if (f == nullptr)
        return 16;
    return std::max<int32_t>(f->lineAdvance > 0 ? f->lineAdvance : f->height, 1);
}

int32_t CMultiEdit::GetVisibleLines() const { return std::max<int32_t>(TextAreaHeight() / LineHeight(), 0); }

int32_t CMultiEdit::SetUpperLineNr(int32_t row)
{
    upperLine = std::clamp(row, 0, std::max(rows.GetNumNodes() - 1, 0));
    Changed();
    return 1;
}

void CMultiEdit::Follow()
{
    int32_t vis = std::max(GetVisibleLines(), 1);
    if (caretRow < upperLine)
        upperLine = caretRow;
    if (caretRow >= upperLine + vis)
        upperLine = caretRow - vis + 1;
    // With a horizontal slider the view also follows the caret sideways.
    TRowEntry* e = Row(caretRow);
    CFont* f = tvgui::FontOf(this);
    if (hslider == nullptr || e == nullptr || f == nullptr)
        return;
    const int32_t room = std::max(TextAreaWidth() - 4, 1);
    const int32_t at = tvgui::PrefixWidth(f, e->text, std::clamp(caretCol, 0, RowLen(caretRow)));
    if (at < leftPixel)
        leftPixel = at;
    else if (at >= leftPixel + room)
        leftPixel = at - room + 1;
}

bool CMultiEdit::Fits(const char* s) const
{
    if ((flags & CNTRL_EDITHSLIDER) != 0)
        return true;
    CFont* f = tvgui::FontOf(this);
    if (f == nullptr)
        return true;
    int32_t room = TextAreaWidth() - 4;
    return f->GetTextWidth(s, 32767, f->height, XTEXT_SINGLELINE) <= room;
}

void CMultiEdit::Focus(int32_t on) { tvgui::CaretFocus(this, caretOn, on); }

void CMultiEdit::TimerHandler(uint32_t timerId)
{
    tvgui::CaretBlink(this, caretOn, timerId);
    CControlBase::TimerHandler(timerId);
}

int32_t CMultiEdit::KeyDown(uint16_t key, void* record)
{
    if (rows.GetNumNodes() == 0 && InsertRow(0, NewRow("", 0)) == 0)
        return 1;
    int32_t n = rows.GetNumNodes();
    caretRow = std::clamp(caretRow, 0, n - 1);
    int32_t len = RowLen(caretRow);
    caretCol = std::clamp(caretCol, 0, len);
    const bool ro = (flags & CNTRL_READONLY) != 0;
    switch (key) {
    case XKEY_LEFT:
        if (caretCol > 0)
            --caretCol;
        else if (caretRow > 0)
            caretCol = RowLen(--caretRow);
        break;
    case XKEY_RIGHT:
        if (caretCol < len)
            ++caretCol;
        else if (caretRow < n - 1)
            ++caretRow, caretCol = 0;
        break;
    case XKEY_UP:
    case XKEY_DOWN:
        caretRow = std::clamp(caretRow + (key == XKEY_UP ? -1 : 1), 0, n - 1);
        caretCol = std::min(caretCol, RowLen(caretRow));
        break;
    case XKEY_HOME:
        caretCol = 0;
        break;
    case XKEY_END:
        caretCol = len;
        break;
    case XKEY_BSPACE:
    case XKEY_DELETE: {
        if (ro)
            return 1;
        // Backspace at a row's start is Delete at the end of the row above.
        const int32_t keepRow = caretRow, keepCol = caretCol;
        if (key == XKEY_BSPACE) {
            if (caretCol == 0 && caretRow == 0)
                return 1;
            if (caretCol > 0) {
                --caretCol;
            } else {
                --caretRow;
                caretCol = RowLen(caretRow);
            }
            len = RowLen(caretRow);
        }
        TRowEntry* e = Row(caretRow);
        if (caretCol < len) {
            std::memmove(e->text + caretCol, e->text + caretCol + 1, static_cast<size_t>(len - caretCol));
        } else if (caretRow < n - 1) {
            int32_t nextLen = RowLen(caretRow + 1);
            if (len + nextLen > maxLength) {
                caretRow = keepRow; // the joined row would not fit its buffer
                caretCol = keepCol;
                break;
            }
            std::memcpy(e->text + len, Row(caretRow + 1)->text, static_cast<size_t>(nextLen) + 1);
            RemoveRow(caretRow + 1);
        }
        break;
    }
    default: {
        lastKey = *static_cast<TGuiKey*>(record);
        if (!tvgui::Send(this, alive, 0, &lastKey))
            return 1;
        if (ro || rows.GetNumNodes() == 0)
            return 1;
        // The handler may have changed the rows.
        n = rows.GetNumNodes();
        caretRow = std::clamp(caretRow, 0, n - 1);
        len = RowLen(caretRow);
        caretCol = std::clamp(caretCol, 0, len);
        TRowEntry* e = Row(caretRow);
        if (key == XKEY_ENTER) {
            if (caretCol == 0) {
                if (InsertRow(caretRow, NewRow("", 0)) == 0)
                    return 1;
            } else {
                if (InsertRow(caretRow + 1, NewRow(e->text + caretCol, len - caretCol)) == 0)
                    return 1;
                e->text[caretCol] = 0;
                caretCol = 0;
            }
            ++caretRow;
        } else if (key >= 32 && key <= 255 && len < maxLength) {
            std::memmove(e->text + caretCol + 1, e->text + caretCol, static_cast<size_t>(len - caretCol) + 1);
            e->text[caretCol] = static_cast<char>(key);
            if (!Fits(e->text)) {
                std::memmove(e->text + caretCol, e->text + caretCol + 1,
                             static_cast<size_t>(len - caretCol) + 1);
                return 1;
            }
            ++caretCol;
        } else {
            return 1;
        }
        break;
    }
    }
    Follow();
    Changed();
    return 1;
}

int32_t CMultiEdit::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    if (msg == 8 && state != XGUI_DISABLED && state != XGUI_HIDDEN) {
        // The sliders see the mouse first; one that takes it moves the view.
        int32_t taken = 0;
        for (CSlider* s : {vslider, hslider}) {
            if (s == nullptr)
                continue;
            const int32_t before = s->GetValue();
            if (int32_t r = tvgui::Forward(this, s, a, b, d))
                taken = std::max(taken, r);
            if (s->GetValue() != before) {
                (s == vslider ? upperLine : leftPixel) = s->GetValue();
                Validate();
            }
        }
        if (taken != 0) {
            // A press that went to a slider is no press on the rows.
            prevButtons = d;
            return taken;
        }
    }
    return tvgui::FieldMsg(
        this, alive, prevButtons, grabbed, msg, a, b, d, data, [this](int32_t on) { Focus(on); },
        [this](uint16_t key, void* record) { return KeyDown(key, record); },
        [this](int32_t px, int32_t py) {
            int32_t in = tvgui::Inset(this);
            int32_t n = rows.GetNumNodes();
            if (n > 0) {
                caretRow = std::clamp(upperLine + (py - y - in) / LineHeight(), 0, n - 1);
                TRowEntry* e = Row(caretRow);
                caretCol = tvgui::IndexAt(tvgui::FontOf(this), e->text, RowLen(caretRow),
                                          px - x - in - 2 + leftPixel);
            }
        });
}

int32_t CMultiEdit::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = tvgui::Screen();
    if (s == nullptr || !visible || state == XGUI_HIDDEN)
        return 1;
    int32_t l = wx + x, t = wy + y, in = tvgui::Inset(this);
    tvgui::DrawLook(this, l, t, width, height, true);
    CFont* f = tvgui::FontOf(this);
    for (CSlider* sl : {vslider, hslider})
        if (sl != nullptr) {
            sl->Draw(wx, wy, how);
            sl->ClearClipListIndex();
        }
    int32_t tl = l + in + 2, tw = TextAreaWidth() - 4, tt = t + in, th = TextAreaHeight();
    if (tw <= 0 || th <= 0)
        return CControlBase::Draw(wx, wy, how);
    // The rows start leftPixel pixels left of the area's edge.
    const int32_t rx = tl - leftPixel;
    int32_t lh = LineHeight(), vis = std::max(GetVisibleLines(), 1);
    s->PushClip();
    s->SetSubClip(tl, tt, tl + tw - 1, tt + th - 1);
    rows.Push();
    int32_t r = upperLine;
    rows.Get(static_cast<uint32_t>(r));
    for (int32_t i = 0; i < vis && rows.Exists(); ++i, ++r, rows.Next()) {
        auto* e = static_cast<TRowEntry*>(rows.Get());
        tvgui::DrawText(f, e->text, rx, tt + i * lh, tw + leftPixel, lh, e->color, XTEXT_SINGLELINE);
        if (r == caretRow && state == XGUI_HIGHLIGHT && caretOn && f != nullptr) {
            int32_t col = std::clamp(caretCol, 0, static_cast<int32_t>(std::strlen(e->text)));
            int32_t px = rx + tvgui::PrefixWidth(f, e->text, col);
            s->DrawLine(px, tt + i * lh, px, tt + i * lh + std::min<int32_t>(f->height, lh) - 1, e->color);
        }
    }
    rows.Pop();
    s->PopClip();
    return CControlBase::Draw(wx, wy, how);
}
