// The value and range of the controls that show a value between a minimum
// and a maximum (the progress bar and the time-out pie): one copy of the
// clamping and of the guard against an empty range.
#pragma once

#include <algorithm>
#include <cstdint>

namespace tvgui
{

// Sets c's value, clamped to its range; c is drawn again when it changed.
template <class C> int32_t SetRangedValue(C& c, int32_t v)
{
    v = std::clamp(v, c.minValue, c.maxValue);
    if (v != c.value) {
        c.value = v;
        c.Validate();
    }
    return 1;
}

// Sets c's range and clamps its value into it. An empty range would divide
// by zero when the control is measured, so it is refused.
template <class C> int32_t SetValueRange(C& c, int32_t min, int32_t max)
{
    if (min >= max)
        return 0;
    c.minValue = min;
    c.maxValue = max;
    c.value = std::clamp(c.value, c.minValue, c.maxValue);
    c.Validate();
    return 1;
}

} // namespace tvgui
