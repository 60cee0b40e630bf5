// The one-line edit field: caret movement, insertion bounded by the
// maximum length (the buffer always holds it plus the terminator), deletion
// that does nothing at the ends, password display, a blinking caret on the
// control's timer, and notifications that stop touching the field when a
// handler destroys it.
#include "ctlutil.h"

#include <tarvex/edit.h>
#include <tarvex/keyboard.h>
#include <tarvex/memory.h>
#include <tarvex/screen.h>

#include <algorithm>
#include <cstring>

using tvgui::SAlive;

CEdit::~CEdit() { SAlive::Kill(alive); }

int32_t CEdit::Create(int32_t newId, const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int32_t maxLen,
                      int32_t f)
{
    tvgui::Setup(this, newId, px, py, w, h, 0, f | CNTRL_TABSTOP, tvgui::kButtonSets);
    bevel = 1;
    maxLength = std::clamp(maxLen, 0, XEDIT_MAXLEN);
    textColor = TRGBA(0, 0, 0);
    caret = 0;
    scrollX = 0;
    caretOn = 0;
    if (AllocBuffer(maxLength + 1) == nullptr)
        return 0;
    if (t != nullptr)
        SetText(t);
    Validate();
    return 1;
}

int32_t CEdit::Destroy()
{
    SAlive::Kill(alive);
    return CControlBase::Destroy();
}

int32_t CEdit::Length() const { return text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0; }

int32_t CEdit::GetCaret() const { return std::clamp(caret, 0, Length()); }

int32_t CEdit::SetText(char* p)
{
    size_t n = p != nullptr ? std::min(std::strlen(p), static_cast<size_t>(maxLength)) : 0;
    if (textOwned && text != nullptr && textSize >= maxLength + 1) {
        if (n > 0)
            std::memmove(text, p, n); // p may lie in the buffer itself
        text[n] = 0;
    } else {
        char* nb = static_cast<char*>(XALLOC(maxLength + 1));
        if (nb == nullptr)
            return 0;
        if (n > 0)
            std::memcpy(nb, p, n);
        nb[n] = 0;
        if (textOwned && text != nullptr)
            XFREE(text);
        text = nb;
        textOwned = 1;
        textSize = maxLength + 1;
    }
    caret = static_cast<int32_t>(n);
    Validate();
    return 1;
}

// A paste replaces the text (cut at the maximum length), puts the caret at
// its end and tells the window the text changed.
int32_t CEdit::PasteText(const char* p)
{
    if (!SetText(const_cast<char*>(p)))
        return 1;
    tvgui::Send(this, alive, 20);
    return 1;
}

int32_t CEdit::ClearBuf()
{
    if (text != nullptr && textOwned)
        text[0] = 0;
    else if (AllocBuffer(maxLength + 1) == nullptr)
        return 0;
    caret = 0;
    scrollX = 0;
    Validate();
    return 1;
}

void CEdit::Focus(int32_t on) { tvgui::CaretFocus(this, caretOn, on); }

void CEdit::TimerHandler(uint32_t timerId)
{
    tvgui::CaretBlink(this, caretOn, timerId);
    CControlBase::TimerHandler(timerId);
}

int32_t CEdit::CaretFromX(int32_t px)
{
    int32_t left = x + tvgui::Inset(this) + 2 - scrollX;
    return tvgui::IndexAt(tvgui::FontOf(this), text, Length(), px - left);
}

int32_t CEdit::KeyDown(uint16_t key, void* record)
{
    int32_t len = Length();
    caret = std::clamp(caret, 0, len);
    const bool ro = (flags & CNTRL_READONLY) != 0;
    switch (key) {
    case XKEY_HOME:
    case XKEY_END:
    case XKEY_LEFT:
    case XKEY_RIGHT:
        if (ro || key == XKEY_END)
            caret = len;
        else if (key == XKEY_HOME)
            caret = 0;
        else if (key == XKEY_LEFT)
            caret = std::max(caret - 1, 0);
        else
            caret = std::min(caret + 1, len);
        Validate();
        return 1;
    case XKEY_BSPACE:
    case XKEY_DELETE: {
        if (ro) {
            caret = len;
            Validate();
            return 1;
        }
        int32_t at = key == XKEY_BSPACE ? caret - 1 : caret;
        if (at < 0 || at >= len)
            return 1; // nothing before the start or after the end
        std::memmove(text + at, text + at + 1, static_cast<size_t>(len - at));
        caret = at;
        Validate();
        tvgui::Send(this, alive, 20);
        return 1;
    }
    default:
        break;
    }
    lastKey = *static_cast<TGuiKey*>(record);
    if (!tvgui::Send(this, alive, 0, &lastKey))
        return 1;
    // The handler may have changed the text.
    len = Length();
    caret = std::clamp(caret, 0, len);
    if (ro) {
        caret = len;
        Validate();
        return 1;
    }
    bool insertable = (key >= 32 && key <= 255) || (key == XKEY_ENTER && (flags & CNTRL_MULTILINE) != 0);
    if (!insertable || len >= maxLength)
        return 1;
    char* buf = MakeTextWritable(maxLength + 1);
    if (buf == nullptr)
        return 1;
    std::memmove(buf + caret + 1, buf + caret, static_cast<size_t>(len - caret) + 1);
    buf[caret++] = static_cast<char>(key);
    Validate();
    tvgui::Send(this, alive, 20);
    return 1;
}

int32_t CEdit::GuiMsgHandler(int32_t msg, int32_t a, int32_t b, int32_t d, void* data)
{
    return tvgui::FieldMsg(
        this, alive, prevButtons, grabbed, msg, a, b, d, data, [this](int32_t on) { Focus(on); },
        [this](uint16_t key, void* record) { return KeyDown(key, record); },
        [this](int32_t px, int32_t) { caret = CaretFromX(px); });
}

int32_t CEdit::Draw(int32_t wx, int32_t wy, int32_t how)
{
    CScreenBase* s = tvgui::Screen();
    if (s == nullptr || !visible || state == XGUI_HIDDEN)
        return 1;
    int32_t l = wx + x, t = wy + y, in = tvgui::Inset(this);
    tvgui::DrawLook(this, l, t, width, height, true);
    CFont* f = tvgui::FontOf(this);
    int32_t len = Length();
    caret = std::clamp(caret, 0, len);
    char* shown = text;
    char* stars = nullptr;
    if ((flags & CNTRL_PASSWORD) != 0 && len > 0) {
        stars = static_cast<char*>(XALLOC(len + 1));
        if (stars != nullptr) {
            std::memset(stars, '*', static_cast<size_t>(len));
            stars[len] = 0;
        }
        shown = stars;
    }
    int32_t tl = l + in + 2, tw = width - 2 * in - 4, tt = t + in, th = height - 2 * in;
    if (tw > 0 && th > 0) {
        int32_t cx = tvgui::PrefixWidth(f, shown, caret);
        if (cx - scrollX > tw - 1)
            scrollX = cx - tw + 1;
        if (cx < scrollX)
            scrollX = cx;
        s->PushClip();
        s->SetSubClip(tl, tt, tl + tw - 1, tt + th - 1);
        tvgui::DrawText(f, shown, tl - scrollX, tt, tw + scrollX, th, textColor,
                        XTEXT_SINGLELINE | XTEXT_CENTERV);
        if (state == XGUI_HIGHLIGHT && caretOn && f != nullptr) {
            int32_t px = tl + cx - scrollX, ch = std::min<int32_t>(f->height, th);
            int32_t py = tt + (th - ch) / 2;
            s->DrawLine(px, py, px, py + ch - 1, textColor);
        }
        s->PopClip();
    }
    if (stars != nullptr)
        XFREE(stars);
    return CControlBase::Draw(wx, wy, how);
}
