// The system clock, sleep, process id and local time on Windows. The tick
// is the system's own 32-bit millisecond count, wrapping as it always has.
#include "platform/platform.h"
#include "platform/systime.h"

#include "platform/win.h"

#include <ctime>

namespace tvp
{

uint32_t SystemTick() { return static_cast<uint32_t>(::GetTickCount()); }

void SystemSleep(uint32_t ms) { ::Sleep(ms); }

uint32_t ProcessId() { return static_cast<uint32_t>(::GetCurrentProcessId()); }

bool LocalTime(std::tm& out)
{
    const time_t now = time(nullptr);
    return localtime_s(&out, &now) == 0;
}

} // namespace tvp
