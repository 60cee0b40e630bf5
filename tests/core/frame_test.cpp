// The frame: start-up, message dispatch, pacing and update ticks, and the
// small services beside it.
#include "tarvex_test.h"

#include "platform/platform.h"

#include <cstring>
#include <vector>

using tvtest::LastError;

namespace
{

class ManualClock
{
  public:
    explicit ManualClock(uint32_t start) { tvp::TestSetManualClock(true, start); }
    ~ManualClock() { tvp::TestSetManualClock(false); }
};

struct Recorder : CMsgSys {
    std::vector<int>* log;
    int id;
    Recorder(std::vector<int>* l, int i) : log(l), id(i) {}
    int32_t MsgHandler(uint32_t, int32_t, int32_t) override
    {
        log->push_back(id);
        return 0;
    }
};

struct WinRecorder : CWinMsg {
    std::vector<uint32_t> seen;
    int32_t result = 0;
    bool unregisterSelf = false;
    int32_t WinMsgHandler(HWND, uint32_t msg, uint32_t wParam, int32_t lParam) override
    {
        seen.push_back(msg);
        seen.push_back(wParam);
        seen.push_back(static_cast<uint32_t>(lParam));
        if (unregisterSelf)
            UnRegisterWinMsgAll(this);
        return result;
    }
};

} // namespace

class FrameTest : public tvtest::TarvexTest
{
  protected:
    FrameTest() : TarvexTest(true) {}
};

TEST_F(FrameTest, StartUpMadeTheWindowAndTables)
{
    ASSERT_NE(sglb->mainWindow, nullptr);
    EXPECT_NE(sglb->windowDC, nullptr);
    EXPECT_NE(sglb->windowClass, 0u);
    ASSERT_NE(glb->squares, nullptr);
    EXPECT_EQ(glb->squares[255], 255 * 255);
    EXPECT_STREQ(GetApplicationName(), "Noname");
}

TEST_F(FrameTest, LibraryMessagesByPriority)
{
    std::vector<int> log;
    Recorder low(&log, 5), high(&log, 10), tie(&log, 11);
    const int32_t before = glb->msgHandlers->GetNumNodes(); // the GUI root's own
    EXPECT_EQ(RegisterMsg(&low, 2, 5), TRUE);
    EXPECT_EQ(RegisterMsg(&high, 2, 10), TRUE);
    EXPECT_EQ(RegisterMsg(&tie, 2, 10), TRUE);
    EXPECT_EQ(RegisterMsg(&high, 2, 10), TRUE); // same triple: one entry
    EXPECT_EQ(glb->msgHandlers->GetNumNodes(), before + 3);
    EXPECT_EQ(SendMsg(2, 0, 0), TRUE);
    EXPECT_EQ(log, (std::vector<int>{10, 11, 5}));
    EXPECT_EQ(SendMsg(9, 0, 0), FALSE); // nobody registered

    UnRegisterMsg(&high, 2, -1);
    log.clear();
    SendMsg(2, 0, 0);
    EXPECT_EQ(log, (std::vector<int>{11, 5}));
    {
        Recorder temp(&log, 1);
        RegisterMsg(&temp, 2, 0);
    } // its destructor unregisters it
    log.clear();
    SendMsg(2, 0, 0);
    EXPECT_EQ(log, (std::vector<int>{11, 5}));
}

TEST_F(FrameTest, WindowMessagesAndQuit)
{
    WinRecorder a, b;
    a.result = 0;
    b.result = 7;
    // The mouse and the keyboard of xInit are registered already.
    const int32_t before = sglb->winMsgHandlers != nullptr ? sglb->winMsgHandlers->GetNumNodes() : 0;
    RegisterWinMsg(&a, WM_KEYDOWN);
    RegisterWinMsg(&b, WM_KEYDOWN);
    RegisterWinMsg(&b, WM_KEYDOWN);
    EXPECT_EQ(sglb->winMsgHandlers->GetNumNodes(), before + 2);
    EXPECT_EQ(xMainWindowProc(sglb->mainWindow, WM_KEYDOWN, 0x41, 0x1E0001), 7);

    tvp::TestPostMessage(sglb->mainWindow, WM_KEYDOWN, 0x42, 5);
    a.unregisterSelf = true; // a handler may unregister itself during dispatch
    EXPECT_EQ(xHandler(), 0);
    EXPECT_EQ(a.seen, (std::vector<uint32_t>{WM_KEYDOWN, 0x41, 0x1E0001, WM_KEYDOWN, 0x42, 5}));
    EXPECT_EQ(b.seen.size(), 6u);
    EXPECT_EQ(sglb->winMsgHandlers->GetNumNodes(), before + 1);
    UnRegisterWinMsgAll(&b);

    // WM_CLOSE with no handler: handled, flag set, the window stays.
    EXPECT_EQ(xMainWindowProc(sglb->mainWindow, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(xDoUserWantToQuit(), TRUE);
    EXPECT_TRUE(tvp::IsWindow(sglb->mainWindow));
    xSetUserWantToQuit(0);

    // A close from the window system arrives as WM_CLOSE as well.
    tvp::TestPostMessage(sglb->mainWindow, WM_CLOSE, 0, 0);
    xHandler();
    EXPECT_EQ(xDoUserWantToQuit(), TRUE);

    // The quit message ends the frame with its wParam and releases the DC.
    tvp::PostQuitMessage(42);
    EXPECT_EQ(xHandler(), 42);
    EXPECT_EQ(sglb->windowDC, nullptr);
}

TEST_F(FrameTest, PacingAndUpdateTicks)
{
    ManualClock clock(1000);
    glb->lastFrameTime = 1000;
    SetUpdateTime(20);

    // Frames of 30 ms: 1, 2, 1, 2 ticks (the remainder carries).
    std::vector<int32_t> ticks;
    for (int i = 0; i < 4; ++i) {
        tvp::TestAdvanceClock(30);
        xHandler();
        ticks.push_back(glb->updateTicks);
    }
    EXPECT_EQ(ticks, (std::vector<int32_t>{1, 2, 1, 2}));

    // A stall of 10 s yields 250 ms worth of ticks.
    glb->tickRemainder = 0;
    tvp::TestAdvanceClock(10000);
    xHandler();
    EXPECT_EQ(glb->updateTicks, 12);
    EXPECT_FLOAT_EQ(glb->tickRemainder, 10.0f);

    // Minimum frame time: wait only when more than 1 ms remains; the
    // waited time counts towards the ticks.
    SetMinimumFrameTime(20);
    glb->tickRemainder = 0;
    uint32_t t0 = xGetTime();
    tvp::TestAdvanceClock(19);
    xHandler();
    EXPECT_EQ(xGetTime() - t0, 19u); // no wait
    t0 = xGetTime();
    tvp::TestAdvanceClock(5);
    xHandler();
    EXPECT_EQ(xGetTime() - t0, 20u); // waited 15 ms
    EXPECT_EQ(glb->updateTicks, 1);

    SetMinimumFrameTime(0);
    t0 = xGetTime();
    xHandler();
    EXPECT_EQ(xGetTime(), t0);
}

TEST(FrameServices, TimeDiff)
{
    EXPECT_EQ(xTimeDiff(0xFFFFFFF0u, 0x10u), 0x1Fu);
    EXPECT_EQ(xTimeDiff(5, 5), 0u);
    EXPECT_EQ(xTimeDiff(5, 9), 4u);
}

TEST(FrameServices, RandomNumbers)
{
    xSeedRandomizer(1);
    EXPECT_EQ(xSysRand(), 41u); // the runtime generator's first value for seed 1
    EXPECT_EQ(xSysRand(), 18467u);
    xSeedRandomizer(1);
    uint32_t a = xSysRand() & 0xFF, b = xSysRand() & 0xFF, c = xSysRand() & 0xFF, d = xSysRand() & 0xFF;
    xSeedRandomizer(1);
    EXPECT_EQ(xRand32(), a | (b << 8) | (c << 16) | (d << 24));
    EXPECT_EQ(xRand(0), 0u);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(xRand(1), 0u);
        EXPECT_LT(xRand(7), 7u);
    }
}

class FrameGlobalsTest : public tvtest::TarvexTest
{
};

TEST_F(FrameGlobalsTest, FlagsNamesAndIdentifiers)
{
    EXPECT_EQ(GlobalVar_IsTrue(0), FALSE);
    EXPECT_EQ(LastError(), "GlobalVar_IsTrue: Index is invalid (should be 1-4095)");
    EXPECT_EQ(GlobalVar_IsFalse(4096), FALSE);
    EXPECT_EQ(LastError(), "GlobalVar_IsFalse: Index is invalid (should be 1-4095)");
    GlobalVar_SetTrue(4096);
    EXPECT_EQ(LastError(), "GlobalVar_SetTrue: Index is invalid (should be 1-4095)");
    GlobalVar_SetTrue(1);
    GlobalVar_SetTrue(4095);
    EXPECT_EQ(GlobalVar_IsTrue(1), TRUE);
    EXPECT_EQ(GlobalVar_IsTrue(4095), TRUE);
    GlobalVar_SetFalse(1);
    EXPECT_EQ(GlobalVar_IsFalse(1), TRUE);

    SetApplicationName("game");
    EXPECT_STREQ(GetApplicationName(), "game");
    std::string tooLong(160, 'n');
    SetApplicationName(tooLong.c_str());
    EXPECT_STREQ(GetApplicationName(), "game");

    uint32_t a, b, c;
    glb->uidCounter = 0xFFFFFFFFu;
    xGetUID(a, b, c);
    EXPECT_EQ(a, 1u); // 0 is replaced by 1
    EXPECT_EQ(b, xGetProcessId());
    xGetUID(a, b, c);
    EXPECT_EQ(a, 2u);

    int32_t p = 0;
    EXPECT_EQ(xGetPriority(p), TRUE);
    EXPECT_EQ(p, 50);
    EXPECT_EQ(xIncPriority(80), TRUE);
    EXPECT_EQ(xDecPriority(80), TRUE);

    char* date = xGetDateString();
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(std::strlen(date), 10u);
    XFREE(date);
    int32_t sec, min, hour, mday, mon, year, wday, yday, dst;
    EXPECT_EQ(xGetDateInfo(sec, min, hour, mday, mon, year, wday, yday, dst), TRUE);
    EXPECT_GE(year, 126);
    EXPECT_LE(mon, 11);
}

TEST(FrameServices, NoGlobals)
{
    ASSERT_EQ(glb, nullptr);
    EXPECT_STREQ(GetApplicationName(), "Noname");
    EXPECT_EQ(xDoUserWantToQuit(), 0);
    EXPECT_EQ(GlobalVar_IsTrue(5), FALSE);
    uint32_t a, b, c;
    xGetUID(a, b, c);
    EXPECT_GE(a, 1u);
    EXPECT_LT(a, 32768u);
}
