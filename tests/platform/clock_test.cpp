// Clock, process and heap services, including the manual test clock.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

TEST(PlatformClock, TickAdvancesAcrossRealSleep)
{
    const uint32_t t0 = tvp::Tick();
    tvp::Sleep(20);
    const uint32_t t1 = tvp::Tick();
    // Unsigned difference: correct across the 32-bit wrap too.
    EXPECT_GE(static_cast<uint32_t>(t1 - t0), 20u);
}

TEST(PlatformClock, ManualClockIsDrivenBySleepAndAdvance)
{
    tvp::TestSetManualClock(true, 0xFFFFFFF0u);
    EXPECT_EQ(tvp::Tick(), 0xFFFFFFF0u);
    // A ten-minute sleep must only move the manual clock (and wrap it).
    tvp::Sleep(600000);
    EXPECT_EQ(tvp::Tick(), static_cast<uint32_t>(0xFFFFFFF0u + 600000u));
    tvp::TestAdvanceClock(5);
    EXPECT_EQ(tvp::Tick(), static_cast<uint32_t>(0xFFFFFFF0u + 600005u));
    tvp::TestSetManualClock(false);

    const uint32_t a = tvp::Tick();
    const uint32_t b = tvp::Tick();
    EXPECT_LT(static_cast<uint32_t>(b - a), 0x80000000u) << "real clock runs forward again";
}

TEST(PlatformClock, ProcessTimeAndHeap)
{
    EXPECT_EQ(tvp::ProcessId(), static_cast<uint32_t>(getpid()));
    std::tm tm{};
    ASSERT_TRUE(tvp::LocalTime(tm));
    EXPECT_GE(tm.tm_year, 120);
    EXPECT_TRUE(tm.tm_mon >= 0 && tm.tm_mon < 12 && tm.tm_mday >= 1 && tm.tm_mday <= 31);

    void* z1 = tvp::HeapAlloc(0);
    void* z2 = tvp::HeapAlloc(0);
    ASSERT_NE(z1, nullptr);
    ASSERT_NE(z2, nullptr);
    EXPECT_NE(z1, z2);
    auto* big = static_cast<unsigned char*>(tvp::HeapAlloc(4096));
    ASSERT_NE(big, nullptr);
    big[0] = big[4095] = 0xAB;
    tvp::HeapFree(big);
    tvp::HeapFree(z1);
    tvp::HeapFree(z2);
    tvp::HeapFree(nullptr);
}

} // namespace
