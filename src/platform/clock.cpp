// The library's clock. The manual clock lets tests drive every time-out of
// the library without really waiting; the system's own clock, sleep, process
// id and local time sit behind it in systime.cpp (systime_win.cpp).
#include "platform/platform.h"
#include "platform/systime.h"

#include <atomic>

namespace tvp {

namespace {

std::atomic<bool> g_manualClock{false};
std::atomic<uint32_t> g_manualNow{0};

} // namespace

uint32_t Tick()
{
    if (g_manualClock.load(std::memory_order_acquire))
        return g_manualNow.load(std::memory_order_acquire);
    return SystemTick();
}

void Sleep(uint32_t ms)
{
    if (g_manualClock.load(std::memory_order_acquire)) {
        g_manualNow.fetch_add(ms, std::memory_order_acq_rel);
        return;
    }
    SystemSleep(ms);
}

void TestSetManualClock(bool on, uint32_t start)
{
    g_manualNow.store(start, std::memory_order_release);
    g_manualClock.store(on, std::memory_order_release);
}

void TestAdvanceClock(uint32_t ms) { g_manualNow.fetch_add(ms, std::memory_order_acq_rel); }

} // namespace tvp
