// Static text and the progress bar: controls that show something and take
// no input but their hotkey, which only sets the phase.
#include "rangeutil.h"

#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/static.h>

#include <algorithm>

namespace
{
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }
CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
} // namespace

// The hotkey of a control without input: held (2) or not (0).
static int32_t HotkeyOnly(CControlBase* c, int32_t msg, void* data)
{
    if (c->state == XGUI_DISABLED || c->state == XGUI_HIDDEN)
        return 0;
    if (msg != 0)
        return msg == 8 ? 0 : 1;
    if (c->hotkey == 0 || data == nullptr)
        return 1;
    const auto* k = static_cast<const TGuiKey*>(data);
    if (k->key == static_cast<uint16_t>(c->hotkey))
        c->hotkeyPhase = (k->flags & 1) != 0 ? 2 : 0;
    return 1;
}

// ---- CStatic

int32_t CStatic::Create(const char* t, int32_t px, int32_t py, int32_t w, int32_t h, int32_t f)
{
    CWinCtrl* r = Root();
    Setup(XCNTRL_STATIC, t, px, py, w, h, 0, f, r != nullptr ? r->defButton : nullptr,
          r != nullptr ? r->defStaticCntrl : nullptr);
    return 1;
}

int32_t CStatic::Destroy() { return CButton::Destroy(); }

int32_t CStatic::SetDefault()
{
    CWinCtrl* r = Root();
    if (r == nullptr)
        return 0;
    r->defStaticCntrl = this;
    return 1;
}

int32_t CStatic::GuiMsgHandler(int32_t msg, int32_t, int32_t, int32_t, void* data)
{
    return HotkeyOnly(this, msg, data);
}

// ---- CProgress

int32_t CProgress::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t f)
{
    CWinCtrl* r = Root();
    Setup(newId, nullptr, px, py, w, h, 0, f, r != nullptr ? r->defStatic : nullptr, nullptr);
    minValue = 0;
    maxValue = 100;
    value = 0;
    return 1;
}

int32_t CProgress::GuiMsgHandler(int32_t msg, int32_t, int32_t, int32_t, void* data)
{
    return HotkeyOnly(this, msg, data);
}

int32_t CProgress::SetValue(int32_t v) { return tvgui::SetRangedValue(*this, v); }

int32_t CProgress::SetRange(int32_t min, int32_t max) { return tvgui::SetValueRange(*this, min, max); }

int32_t CProgress::GetRange(int32_t& min, int32_t& max)
{
    min = minValue;
    max = maxValue;
    return 1;
}

int32_t CProgress::FilledWidth(int32_t inner)
{
    if (inner <= 0 || maxValue <= minValue)
        return 0;
    int64_t part = static_cast<int64_t>(value) - minValue, all = static_cast<int64_t>(maxValue) - minValue;
    return static_cast<int32_t>(static_cast<int64_t>(inner) * part / all);
}

int32_t CProgress::Draw(int32_t wx, int32_t wy, int32_t how)
{
    if (state == XGUI_HIDDEN || !visible)
        return 1;
    CScreenBase* s = Screen();
    if (s == nullptr)
        return 0;
    DrawFace(wx, wy);
    // The bar in the border colour of the set, inside the bevel.
    TCntrlColor* set = StateColors();
    int32_t in = (flags & CNTRL_EXTRUDED) != 0 ? bevel + 1 : 1;
    int32_t inner = width - 2 * in, tall = height - 2 * in;
    int32_t filled = FilledWidth(inner);
    if (set != nullptr && filled > 0 && tall > 0)
        s->FillRect(wx + x + in, wy + y + in, filled, tall, set->colors[0]);
    return CControlBase::Draw(wx, wy, how);
}
