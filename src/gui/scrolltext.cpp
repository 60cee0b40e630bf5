// Scrolling text: the text is laid out once into a 24-bit strip (the text
// followed by a gap as wide as the control) and the control shows a window
// of its width that moves through the strip pixPerFrame pixels per timer
// tick, wrapping to the start at the end, so the text leaves at the left
// and comes back from the right.
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/static.h>

#include <algorithm>

namespace
{
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }
CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
// The widest strip the font can lay out in one go.
constexpr int32_t kMaxStrip = 32000;
} // namespace

CScrollText::~CScrollText() { FreeStrip(); }

int32_t CScrollText::Create(const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int32_t n, int32_t f)
{
    Stop();
    CStatic::Create(nullptr, px, py, w, h, f);
    pixPerFrame = std::max(0, n);
    scrollPos = 0;
    scrolling = 0;
    interval = 0;
    SetText(t);
    return 1;
}

int32_t CScrollText::Destroy()
{
    Stop();
    FreeStrip();
    return CStatic::Destroy();
}

void CScrollText::FreeStrip()
{
    if (strip != nullptr)
        XDELETE(strip);
    if (shown != nullptr)
        XDELETE(shown);
    strip = shown = nullptr;
    shownBits = 0;
    textWidth = 0;
    stripWidth = std::max(1, width);
}

int32_t CScrollText::MakeStrip()
{
    FreeStrip();
    CWinCtrl* r = Root();
    CFont* f = font != nullptr ? font : r != nullptr ? r->defFont : nullptr;
    const int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel : 0;
    const int32_t w = width - 2 * in, h = height - 2 * in;
    if (f == nullptr || text == nullptr || text[0] == 0 || w <= 0 || h <= 0)
        return 0;
    textWidth =
        std::min(f->GetTextWidth(text, kMaxStrip, static_cast<int16_t>(std::min(h, 32767)), XTEXT_SINGLELINE),
                 kMaxStrip - w);
    stripWidth = std::max(1, textWidth + w);
    strip = XNEW(CBitmap);
    if (strip->CreateRGB(stripWidth, h, 24, 8, 8, 8, 0, 8, 16, 0) != TRUE) {
        FreeStrip();
        return 0;
    }
    // The face behind the text, or the key colour for a see-through control.
    TCntrlColor* set = StateColors();
    TRGBA back = (flags & CNTRL_TRANSPARENT) != 0 || set == nullptr ? TRGBA(255, 0, 255) : set->colors[2];
    strip->Fill(&back);
    if (f->FindColor(textColor) == nullptr)
        f->CreateColor(textColor);
    TRGBA c = textColor;
    f->Text(strip, text, 0, 0, static_cast<int16_t>(stripWidth), static_cast<int16_t>(h), &c, nullptr,
            XTEXT_SINGLELINE | XTEXT_CENTERV);
    return 1;
}

int32_t CScrollText::SetText(char* p)
{
    CStatic::SetText(p);
    scrollPos = 0;
    MakeStrip();
    return 1;
}

int32_t CScrollText::SetPixPerFrame(int32_t n)
{
    if (n < 0)
        return 0;
    pixPerFrame = n;
    return 1;
}

int32_t CScrollText::Start(int32_t ms)
{
    if (ms < 1)
        return 0;
    if (scrolling)
        RemoveTimer(interval);
    interval = static_cast<uint32_t>(ms);
    scrolling = AddTimer(interval) ? 1 : 0;
    return scrolling;
}

int32_t CScrollText::Stop()
{
    if (scrolling)
        RemoveTimer(interval);
    scrolling = 0;
    return 1;
}

void CScrollText::TimerHandler(uint32_t timerId)
{
    if (!scrolling || timerId != interval) {
        CStatic::TimerHandler(timerId);
        return;
    }
    if (pixPerFrame == 0)
        return;
    scrollPos = static_cast<int32_t>((static_cast<int64_t>(scrollPos) + pixPerFrame) % stripWidth);
    Validate();
}

int32_t CScrollText::Draw(int32_t wx, int32_t wy, int32_t how)
{
    if (state == XGUI_HIDDEN || !visible)
        return 1;
    CScreenBase* s = Screen();
    if (s == nullptr)
        return 0;
    char* keep = text;
    text = nullptr; // the face only; the text comes from the strip
    DrawFace(wx, wy);
    text = keep;
    const int32_t bits = s->activeMode != nullptr ? s->activeMode->bitsPerPixel : 0;
    if (strip != nullptr && (shown == nullptr || shownBits != bits)) {
        if (shown != nullptr)
            XDELETE(shown);
        shown = XNEW(CBitmap, *strip);
        if (shown->data == nullptr || s->MakeScreenFormat(shown, 1) != TRUE) {
            XDELETE(shown);
            shown = nullptr;
        }
        shownBits = bits;
    }
    if (shown != nullptr) {
        const int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel : 0;
        const int32_t l = wx + x + in, t = wy + y + in, w = width - 2 * in, h = shown->height;
        const int32_t keyed = (flags & CNTRL_TRANSPARENT) != 0 ? XBLT_COLORKEY : 0;
        const int32_t first = std::min(w, stripWidth - scrollPos);
        s->PushClip();
        s->SetSubClip(l, t, l + w - 1, t + h - 1);
        s->DrawBitmapScreenGui(shown, scrollPos, 0, l, t, first, h, keyed, 0);
        if (first < w)
            s->DrawBitmapScreenGui(shown, 0, 0, l + first, t, w - first, h, keyed, 0);
        s->PopClip();
    }
    return CControlBase::Draw(wx, wy, how);
}
