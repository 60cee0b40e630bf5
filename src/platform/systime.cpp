// The system clock, sleep, process id and local time on POSIX.
#include "platform/platform.h"
#include "platform/systime.h"

#include <cerrno>
#include <time.h>
#include <unistd.h>

namespace tvp
{

uint32_t SystemTick()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Unsigned arithmetic so the result wraps like the 32-bit tick it stands for.
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void SystemSleep(uint32_t ms)
{
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

bool LocalTime(std::tm& out)
{
    const time_t now = time(nullptr);
    return localtime_r(&now, &out) != nullptr;
}

} // namespace tvp
