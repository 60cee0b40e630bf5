// The time-out clock: its value as a pie, the part of the range still to go,
// drawn into a 24-bit picture of the control's size and copied onto the
// screen in the screen's format.
#include <tarvex/memory.h>
#include <tarvex/screen.h>
#include <tarvex/static.h>

CTimeout::~CTimeout()
{
    if (pie != nullptr)
        XDELETE(pie);
}

int32_t CTimeout::Create(int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t)
{
    return 0;
}

int32_t CTimeout::Destroy()
{
    if (pie != nullptr)
        XDELETE(pie);
    pie = nullptr;
    return CButton::Destroy();
}

int32_t CTimeout::GuiMsgHandler(int32_t, int32_t, int32_t, int32_t, void*) { return 0; }
int32_t CTimeout::Draw(int32_t, int32_t, int32_t) { return 1; }
int32_t CTimeout::SetValue(int32_t) { return 0; }
int32_t CTimeout::SetRange(int32_t, int32_t) { return 0; }
int32_t CTimeout::GetRange(int32_t& min, int32_t& max)
{
    min = minValue;
    max = maxValue;
    return 1;
}
int32_t CTimeout::DrawPie() { return 0; }
