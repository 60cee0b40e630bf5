// The time-out clock: its value as a pie (the part of the range passed,
// clockwise from twelve o'clock) drawn into a 24-bit picture of the
// control's size, converted to the screen's format and copied onto the
// screen with the corners keyed out.
#include "rangeutil.h"

#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/static.h>

#include <algorithm>
#include <cmath>

namespace
{
CWinCtrl* Root() { return glb != nullptr ? glb->rootWindow : nullptr; }
CScreenBase* Screen() { return glb != nullptr ? glb->screen : nullptr; }
} // namespace

CTimeout::~CTimeout()
{
    if (pie != nullptr)
        XDELETE(pie);
}

int32_t CTimeout::Create(int32_t newId, int32_t px, int32_t py, int32_t w, int32_t h, int32_t min,
                         int32_t max, int32_t v, int32_t f)
{
    CWinCtrl* r = Root();
    Setup(newId, nullptr, px, py, w, h, 0, f, r != nullptr ? r->defStatic : nullptr, nullptr);
    minValue = 0;
    maxValue = 100;
    if (min < max) {
        minValue = min;
        maxValue = max;
    }
    value = std::clamp(v, minValue, maxValue);
    return 1;
}

int32_t CTimeout::Destroy()
{
    if (pie != nullptr)
        XDELETE(pie);
    pie = nullptr;
    return CButton::Destroy();
}

int32_t CTimeout::GuiMsgHandler(int32_t msg, int32_t, int32_t, int32_t, void* data)
{
    if (state == XGUI_DISABLED || state == XGUI_HIDDEN)
        return 0;
    if (msg == 8)
        return 0;
    const auto* k = static_cast<const TGuiKey*>(data);
    if (msg == 0 && hotkey != 0 && k != nullptr && k->key == static_cast<uint16_t>(hotkey))
        hotkeyPhase = (k->flags & 1) != 0 ? 2 : 0;
    return 1;
}

int32_t CTimeout::SetValue(int32_t v) { return tvgui::SetRangedValue(*this, v); }

int32_t CTimeout::SetRange(int32_t min, int32_t max) { return tvgui::SetValueRange(*this, min, max); }

int32_t CTimeout::GetRange(int32_t& min, int32_t& max)
{
    min = minValue;
    max = maxValue;
    return 1;
}

int32_t CTimeout::DrawPie(int32_t l, int32_t t)
{
    CScreenBase* s = Screen();
    if (s == nullptr)
        return 0;
    if (pie != nullptr)
        XDELETE(pie);
    pie = XNEW(CBitmap);
    if (width <= 0 || height <= 0 || pie->CreateRGB(width, height, 24, 8, 8, 8, 0, 8, 16, 0) != TRUE) {
        XDELETE(pie);
        pie = nullptr;
        glb->error.SetErrorf("Couldn't create dib section: %ld!",
                             static_cast<long>(static_cast<int64_t>(width) * height));
        return 0;
    }
    TCntrlColor* set = StateColors();
    const TRGBA key(255, 0, 255);
    const TRGBA passed = set != nullptr ? set->colors[0] : TRGBA(0, 0, 160);
    const TRGBA left = set != nullptr ? set->colors[1] : TRGBA(205, 205, 205);
    const TRGBA rim = set != nullptr ? set->colors[3] : TRGBA(0, 0, 0);
    pie->Fill(&key);
    const double part = static_cast<double>(static_cast<int64_t>(value) - minValue) /
                        static_cast<double>(static_cast<int64_t>(maxValue) - minValue);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double radius = std::min(width, height) / 2.0 - 0.5;
    const double kTurn = 2.0 * 3.14159265358979323846;
    for (int32_t py = 0; py < height; ++py)
        for (int32_t px = 0; px < width; ++px) {
            const double dx = px - cx, dy = py - cy, d2 = dx * dx + dy * dy;
            if (d2 > radius * radius)
                continue;
            double angle = std::atan2(dx, -dy);
            if (angle < 0)
                angle += kTurn;
            const TRGBA* c = d2 > (radius - 1) * (radius - 1) ? &rim : angle / kTurn < part ? &passed : &left;
            pie->PutPixel(px, py, c);
        }
    if (s->MakeScreenFormat(pie, 1) != TRUE ||
        s->DrawBitmapScreenGui(pie, 0, 0, l, t, width, height, XBLT_COLORKEY, 0) != TRUE)
        return xErrorTxt_Func("Pie blt failed", __FILE__, __LINE__);
    return 1;
}

int32_t CTimeout::Draw(int32_t wx, int32_t wy, int32_t how)
{
    if (state == XGUI_HIDDEN || !visible)
        return 1;
    if (Screen() == nullptr)
        return 0;
    DrawFace(wx, wy);
    DrawPie(wx + x, wy + y);
    return CControlBase::Draw(wx, wy, how);
}
