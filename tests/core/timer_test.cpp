// Timers driven by the platform layer's manual clock: period carry, staging
// of additions and removals during a pass, and object lifetime.
#include "tarvex_test.h"

#include "platform/platform.h"

#include <vector>

namespace
{

class TimerTest : public tvtest::TarvexTest
{
  protected:
    void SetUp() override
    {
        tvtest::TarvexTest::SetUp();
        tvp::TestSetManualClock(true, 1000);
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        tvtest::TarvexTest::TearDown();
    }
    // One pass after the clock moved on by ms.
    static void Pass(uint32_t ms)
    {
        tvp::TestAdvanceClock(ms);
        xUpdateObjTimers();
    }
};

// Records each call; optional actions run inside the handler.
class Probe : public CTimer
{
  public:
    std::vector<uint32_t> calls;
    bool removeSelf = false;
    CTimer* addOther = nullptr;
    uint32_t addInterval = 0;
    void TimerHandler(uint32_t interval) override
    {
        calls.push_back(interval);
        if (removeSelf)
            RemoveTimer(interval);
        if (addOther != nullptr) {
            xAddTimer(addOther, addInterval);
            addOther = nullptr;
        }
    }
    size_t Count(uint32_t interval) const
    {
        size_t n = 0;
        for (uint32_t c : calls)
            n += c == interval ? 1 : 0;
        return n;
    }
};

STimerEntry* Active(size_t i)
{
    size_t k = 0;
    for (SLListNode* n = glb->activeTimers->first; n != nullptr; n = n->next, ++k)
        if (k == i)
            return static_cast<STimerEntry*>(n->data);
    return nullptr;
}

TEST_F(TimerTest, WholePeriodsFireAndTheFractionCarries)
{
    Probe p;
    ASSERT_TRUE(p.AddTimer(100));
    Pass(0); // first pass only starts the count
    EXPECT_TRUE(p.calls.empty());
    Pass(250);
    EXPECT_EQ(p.calls.size(), 2u);
    EXPECT_FLOAT_EQ(Active(0)->remainder, 50.0f);
    Pass(60);
    EXPECT_EQ(p.calls.size(), 3u);
    EXPECT_FLOAT_EQ(Active(0)->remainder, 10.0f);
    // Long run: 1000 passes of 33 ms make exactly 330 periods.
    for (int i = 0; i < 1000; ++i)
        Pass(33);
    EXPECT_EQ(p.calls.size(), 3u + 330u);
}

TEST_F(TimerTest, DuplicateAddKeepsOneTimerAndZeroIsRefused)
{
    Probe p;
    EXPECT_TRUE(p.AddTimer(100));
    EXPECT_TRUE(p.AddTimer(100)); // pending twice
    Pass(0);
    EXPECT_TRUE(p.AddTimer(100)); // active and added again
    EXPECT_FALSE(p.AddTimer(0));
    EXPECT_FALSE(xAddTimer(nullptr, 100));
    Pass(0);
    EXPECT_EQ(glb->activeTimers->GetNumNodes(), 1);
    EXPECT_EQ(glb->pendingTimers->GetNumNodes(), 0);
    Pass(100);
    EXPECT_EQ(p.calls.size(), 1u);
}

TEST_F(TimerTest, RemovalInsideTheHandlerStopsTheRemainingCalls)
{
    Probe p;
    p.removeSelf = true;
    p.AddTimer(10);
    Pass(0);
    Pass(100); // ten periods due, only the first runs
    EXPECT_EQ(p.calls.size(), 1u);
    EXPECT_EQ(glb->activeTimers->GetNumNodes(), 0);
    Pass(100);
    EXPECT_EQ(p.calls.size(), 1u);
}

TEST_F(TimerTest, TwoIntervalsOnOneObjectAndRemovalOfOne)
{
    Probe p;
    p.AddTimer(100);
    p.AddTimer(1000);
    Pass(0);
    Pass(1000);
    EXPECT_EQ(p.Count(100), 10u);
    EXPECT_EQ(p.Count(1000), 1u);
    p.RemoveTimer(100);
    Pass(1000);
    EXPECT_EQ(p.Count(100), 10u);
    EXPECT_EQ(p.Count(1000), 2u);
}

TEST_F(TimerTest, TimerAddedDuringAPassStartsInTheNextPass)
{
    Probe a, b;
    a.addOther = &b;
    a.addInterval = 10;
    a.AddTimer(100);
    Pass(0);
    Pass(100); // a adds b from its handler
    EXPECT_EQ(a.calls.size(), 1u);
    EXPECT_TRUE(b.calls.empty());
    EXPECT_EQ(glb->activeTimers->GetNumNodes(), 2);
    Pass(50); // b's first pass: it only starts counting
    EXPECT_TRUE(b.calls.empty());
    Pass(50);
    EXPECT_EQ(b.calls.size(), 5u);
}

TEST_F(TimerTest, DestroyingTheObjectRemovesItsTimers)
{
    Probe keep;
    keep.AddTimer(100);
    {
        Probe gone;
        gone.AddTimer(100);
        gone.AddTimer(250);
        Pass(0);
        Probe pendingOnly;
        pendingOnly.AddTimer(5); // never activated
    }
    EXPECT_EQ(glb->pendingTimers->GetNumNodes(), 0);
    Pass(100); // the marked entries are dropped, nothing calls a dead object
    EXPECT_EQ(glb->activeTimers->GetNumNodes(), 1);
    EXPECT_EQ(keep.calls.size(), 1u);
    xRemoveTimerAll(&keep);
    Pass(100);
    EXPECT_EQ(glb->activeTimers->GetNumNodes(), 0);
}

TEST(TimerDate, GetCurrentDateFillsPlausibleFields)
{
    TDate d{};
    GetCurrentDate(&d);
    GetCurrentDate(nullptr);
    EXPECT_GE(d.year, 2000);
    EXPECT_GE(d.month, 1);
    EXPECT_LE(d.month, 12);
    EXPECT_LE(d.weekday, 6);
    EXPECT_LE(d.yearDay, 365);
}

} // namespace
