// The clock-difference service in one process (the two nodes reach each
// other by local delivery): the offset on the test clock for a table of
// server and client clocks, the frame-counted time-out, stray packets and
// the refusals before Init.
#include "comm_util.h"

using tvtest::CommTest;
using tvtest::LastError;

namespace
{

class TimeDiffTest : public CommTest
{
  protected:
    void SetUp() override
    {
        CommTest::SetUp();
        tvp::TestSetManualClock(true, 1000);
    }
    void TearDown() override
    {
        tvp::TestSetManualClock(false);
        CommTest::TearDown();
    }
    static void Clock(uint32_t t) { tvp::TestSetManualClock(true, t); }
    static bool Start(CTimeDiffNode& node, uint32_t id = 99, const char* name = "clock")
    {
        node.SetId(id);
        return node.SetName(name) == TRUE && node.Init(0) == TRUE;
    }
};

// A plain node at the service's address that sends one item.
struct Stray : CCommNode {
    bool Start(uint32_t type)
    {
        SetId(99);
        return SetName("clock") == TRUE && InitCommNode(type) == TRUE;
    }
    bool SendItem(const char* name)
    {
        return SendInit() == TRUE && sendKCBL.NewItem(name, KEND) == TRUE && SendKCBLPacket() == TRUE;
    }
};

} // namespace

TEST_F(TimeDiffTest, OffsetForServerAndClientClocks)
{
    struct Case {
        const char* what;
        uint32_t request, server,
            answer; // client clock at the request, server clock, client clock at the answer
        int32_t sign;
        uint32_t offset;
        uint32_t stamp, now, elapsed; // GetTimeDiff(stamp) at client clock now
    };
    const Case cases[] = {
        {"equal clocks, no transfer time", 1000, 1000, 1000, 2, 0, 900, 1000, 100},
        {"server ahead, 20 ms round trip", 1000, 6010, 1020, 1, 5010, 7000, 2000, 10},
        {"server behind", 50000, 100, 50040, 2, 49900, 200, 50200, 100},
        {"client clock wraps during the round trip", 0xFFFFFFF0u, 500, 0x10, 1, 515, 520, 0x20, 27},
        {"server clock near its wrap", 1000, 0xFFFFFF00u, 1100, 1, 0xFFFFFB18u, 0xFFFFFF96u, 1150, 0},
        {"server stamp after the server's wrap", 1000, 0xFFFFFFF0u, 1000, 1, 0xFFFFFC08u, 5, 1030, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTimeDiffServer server;
        CTimeDiffClient client;
        ASSERT_TRUE(Start(server));
        ASSERT_TRUE(Start(client));
        EXPECT_EQ(client.GetDiffSign(), 0);
        Clock(c.request);
        ASSERT_EQ(client.Handler(), TRUE) << client.GetErrorMsg();
        EXPECT_EQ(client.GetState(), TDC_WAITREQANSWER);
        Clock(c.server);
        ASSERT_EQ(server.Handler(), TRUE) << server.GetErrorMsg();
        EXPECT_EQ(server.GetState(), TDS_WAITDONE);
        Clock(c.answer);
        ASSERT_EQ(client.Handler(), TRUE) << client.GetErrorMsg();
        EXPECT_EQ(client.GetDiffSign(), c.sign);
        EXPECT_EQ(client.GetOffset(), c.offset);
        Clock(c.now);
        EXPECT_EQ(client.GetTimeDiff(c.stamp), c.elapsed);
        // "Done" finishes both sides.
        EXPECT_EQ(client.IsClientDone(), FALSE);
        ASSERT_EQ(client.Handler(), TRUE);
        EXPECT_EQ(client.IsClientDone(), TRUE);
        EXPECT_EQ(server.IsClientDone(), FALSE);
        ASSERT_EQ(server.Handler(), TRUE);
        EXPECT_EQ(server.IsClientDone(), TRUE);
        EXPECT_EQ(server.GetState(), TDS_FINISHED);
        EXPECT_EQ(client.GetState(), TDC_FINISHED);
        EXPECT_EQ(server.Handler(), TRUE); // finished: nothing more
        EXPECT_EQ(client.Handler(), TRUE);
    }
}

TEST_F(TimeDiffTest, GetTimeDiffBeforeAMeasurementUsesNoOffset)
{
    CTimeDiffClient client;
    Clock(5000);
    EXPECT_EQ(client.GetTimeDiff(4000), 1000u);
    EXPECT_EQ(client.GetTimeDiff(6000), 0xFFFFFC17u); // a stamp from the future wraps (minus one)
    client.SetPreTime(1);
    client.SetPostTime(2);
    EXPECT_EQ(client.GetTimeDiff(4000), 1000u);
}

TEST_F(TimeDiffTest, AnswerCountsHandlerCallsNotMilliseconds)
{
    for (int late : {0, 1}) {
        SCOPED_TRACE(late ? "answer after the 751st call" : "answer on the 751st call");
        CTimeDiffServer server;
        CTimeDiffClient client;
        ASSERT_TRUE(Start(server));
        ASSERT_TRUE(Start(client));
        ASSERT_EQ(client.Handler(), TRUE); // request sent
        for (int i = 0; i < 750 + late; ++i) {
            tvp::TestAdvanceClock(100); // time itself does not count
            ASSERT_EQ(client.Handler(), TRUE) << i;
        }
        ASSERT_EQ(server.Handler(), TRUE);
        if (!late) {
            EXPECT_EQ(client.Handler(), TRUE) << client.GetErrorMsg();
            EXPECT_EQ(client.GetState(), TDC_SENDDONE);
            continue;
        }
        EXPECT_EQ(client.Handler(), FALSE);
        EXPECT_STREQ(client.GetErrorMsg(), "CTimeDiffClient::Handler:TDC_WAITREQANSWER:Timed out!");
        EXPECT_EQ(client.GetState(), TDC_WAITREQANSWER);
        EXPECT_EQ(client.Handler(), FALSE); // and stays so
    }
}

TEST_F(TimeDiffTest, StrayPacketsAreReleasedAndReported)
{
    CTimeDiffServer server;
    CTimeDiffClient client;
    Stray toServer, toClient;
    ASSERT_TRUE(Start(server));
    ASSERT_TRUE(toServer.Start(CNODE_CLIENT));
    ASSERT_TRUE(toServer.SendItem("Hello"));
    EXPECT_EQ(server.Handler(), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Handler:FindItem (RequestTime):Function failed");
    EXPECT_EQ(server.GetState(), TDS_WAITREQUEST);
    toServer.ExitCommNode();

    // The stray packet is gone: the real request is answered.
    ASSERT_TRUE(Start(client));
    ASSERT_TRUE(toClient.Start(CNODE_SERVER));
    ASSERT_EQ(client.Handler(), TRUE);
    ASSERT_TRUE(toClient.SendItem("Noise")); // reaches the client before the answer
    ASSERT_EQ(server.Handler(), TRUE) << server.GetErrorMsg();
    EXPECT_EQ(client.Handler(), FALSE);
    EXPECT_STREQ(client.GetErrorMsg(),
                 "CTimeDiffClient::Handler:FindItem (RequestTimeAnswer):Function failed");
    EXPECT_EQ(client.Handler(), TRUE) << client.GetErrorMsg();
    EXPECT_EQ(client.GetState(), TDC_SENDDONE);
    toClient.ExitCommNode();

    // In the wait for "Done" a stray is reported with the same text.
    Stray again;
    ASSERT_TRUE(again.Start(CNODE_CLIENT));
    ASSERT_TRUE(again.SendItem("Hello"));
    EXPECT_EQ(server.Handler(), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Handler:FindItem (RequestTime):Function failed");
    again.ExitCommNode();
    ASSERT_EQ(client.Handler(), TRUE);
    ASSERT_EQ(server.Handler(), TRUE);
    EXPECT_EQ(server.IsClientDone(), TRUE);
}

TEST_F(TimeDiffTest, RefusalsBeforeInit)
{
    CTimeDiffServer server;
    EXPECT_EQ(server.Init(0), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Init:name has not been initialized");
    EXPECT_EQ(server.Handler(), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Handler:The timediffserver is not initialized");
    ASSERT_EQ(server.SetName("clock", 1, 0, 2), TRUE);
    EXPECT_STREQ(server.GetName(), "clock_1_2");
    EXPECT_EQ(server.Init(0), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Init: id has not been initialized");
    server.SetId(4);
    EXPECT_EQ(server.Handler(), FALSE);
    EXPECT_STREQ(server.GetErrorMsg(), "CTimeDiffServer::Handler:The server is in an invalid state");
    EXPECT_EQ(server.SetObjName("srv", 2u), TRUE);
    EXPECT_STREQ(server.GetObjName(), "srv2");
    ASSERT_EQ(server.Init(0), TRUE);
    EXPECT_EQ(server.GetType(), static_cast<uint32_t>(CNODE_SERVER));

    CTimeDiffClient client;
    EXPECT_EQ(client.Handler(), FALSE);
    EXPECT_STREQ(client.GetErrorMsg(), "CTimeDiffClient::Handler:The timediffserver is not initialized");
    client.SetId(4);
    ASSERT_EQ(client.SetName("clock", "_1", 0, 2, 0), TRUE);
    EXPECT_EQ(client.Handler(), FALSE);
    EXPECT_STREQ(client.GetErrorMsg(), "CTimeDiffClient::Handler:The client is in an invalid state");
    ASSERT_EQ(client.Init(0), TRUE);
    EXPECT_EQ(client.GetType(), static_cast<uint32_t>(CNODE_CLIENT));

    // Exit clears the names: Init and Handler refuse until they are set again.
    client.Exit();
    EXPECT_EQ(client.Init(0), FALSE);
    EXPECT_STREQ(client.GetErrorMsg(), "CTimeDiffClient::Init:name has not been initialized");
    EXPECT_EQ(client.Handler(), FALSE);
    EXPECT_STREQ(client.GetErrorMsg(), "CTimeDiffClient::Handler:The timediffserver is not initialized");
    (void)LastError;
}
