// Time, process and heap services of the platform layer. The manual clock lets
// tests drive every time-out of the library without really waiting.
#include "platform/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <time.h>
#include <unistd.h>

namespace tvp {

namespace {

std::atomic<bool> g_manualClock{false};
std::atomic<uint32_t> g_manualNow{0};

} // namespace

uint32_t Tick()
{
    if (g_manualClock.load(std::memory_order_acquire))
        return g_manualNow.load(std::memory_order_acquire);
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Unsigned arithmetic so the result wraps like the 32-bit tick it stands for.
    const uint64_t ms =
        static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void Sleep(uint32_t ms)
{
    if (g_manualClock.load(std::memory_order_acquire)) {
        g_manualNow.fetch_add(ms, std::memory_order_acq_rel);
        return;
    }
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

void TestSetManualClock(bool on, uint32_t start)
{
    g_manualNow.store(start, std::memory_order_release);
    g_manualClock.store(on, std::memory_order_release);
}

void TestAdvanceClock(uint32_t ms) { g_manualNow.fetch_add(ms, std::memory_order_acq_rel); }

} // namespace tvp
