// The operating system's clock and sleep under the library's clock
// (clock.cpp), which adds the tests' manual clock on top.
#pragma once

#include <cstdint>

namespace tvp
{

// Milliseconds from a monotonic clock, as a 32-bit value that wraps.
uint32_t SystemTick();
// Really sleeps for ms milliseconds.
void SystemSleep(uint32_t ms);

} // namespace tvp
