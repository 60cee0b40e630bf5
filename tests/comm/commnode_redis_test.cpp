// The Redis bridge of the comm hubs without a Redis server: the byte forms
// it reads from other hubs (every bound and every cut), the routing rule by
// node type, the checks of the joining call, and a bridge whose Redis is
// not there (reported and retried, never fatal).
#include "comm/commnode_redis.h"
#include "comm_util.h"

#include <string>
#include <vector>

using tvtest::CommTest;
using tvtest::LastError;

namespace
{

std::string Message(uint8_t type, const std::string& name, uint32_t id, uint32_t session,
                    const std::string& data)
{
    std::string m;
    EXPECT_TRUE(
        tvredis::EncodeMessage(m, id, type, session, name, data.data(), static_cast<uint32_t>(data.size())));
    return m;
}

std::string List(const std::vector<tvredis::NodeEntry>& nodes)
{
    std::string out;
    uint32_t skipped = 0;
    tvredis::EncodeNodeList(out, nodes, skipped);
    EXPECT_EQ(skipped, 0u);
    return out;
}

TEST(RedisWire, MessageRoundTripsWithItsFields)
{
    const std::string m =
        Message(CNODE_CLIENT, "lobby_3_7", 0xA1B2C3D4u, 0xFFFFFFFFu, std::string("a\0b", 3));
    ASSERT_EQ(m.size(), tvredis::kMessageHeaderSize + 9 + 3);
    tvredis::Message out;
    ASSERT_TRUE(tvredis::DecodeMessage(m.data(), m.size(), out));
    EXPECT_EQ(out.id, 0xA1B2C3D4u);
    EXPECT_EQ(out.session, 0xFFFFFFFFu);
    EXPECT_EQ(out.type, uint32_t{CNODE_CLIENT});
    EXPECT_EQ(out.name, "lobby_3_7");
    EXPECT_EQ(std::string(out.data, out.size), std::string("a\0b", 3));
}

TEST(RedisWire, MessageCutAnywhereBeforeItsDataIsRefused)
{
    const std::string m = Message(CNODE_ANY, "game", 1, 0, "xyz");
    tvredis::Message out;
    for (size_t n = 0; n < tvredis::kMessageHeaderSize + 4; ++n)
        EXPECT_FALSE(tvredis::DecodeMessage(m.data(), n, out)) << n;
    // The data runs to the end: a shorter message is shorter data.
    ASSERT_TRUE(tvredis::DecodeMessage(m.data(), m.size() - 1, out));
    EXPECT_EQ(out.size, 2u);
}

TEST(RedisWire, MalformedMessagesAreRefused)
{
    const std::string good = Message(CNODE_SERVER, "game", 1, 0, "x");
    struct Case {
        const char* what;
        size_t at;
        char value;
    };
    const Case cases[] = {
        {"version", 0, 2},
        {"kind", 1, 0},
        {"type zero", 2, 0},
        {"type past CLIENT", 2, 4},
        {"empty name", 3, 0},
        {"name past the end", 3, 6},
        {"zero byte in name", 13, 0},
    };
    for (const Case& c : cases) {
        std::string m = good;
        m[c.at] = c.value;
        tvredis::Message out;
        EXPECT_FALSE(tvredis::DecodeMessage(m.data(), m.size(), out)) << c.what;
    }
    std::string m;
    EXPECT_FALSE(tvredis::EncodeMessage(m, 1, CNODE_ANY, 0, std::string(256, 'n'), "", 0))
        << "name of 256 bytes";
    EXPECT_FALSE(tvredis::EncodeMessage(m, 1, 7, 0, "game", "", 0)) << "type 7";
    EXPECT_TRUE(tvredis::EncodeMessage(m, 1, CNODE_ANY, 0, std::string(255, 'n'), "", 0))
        << "name of 255 bytes";
}

TEST(RedisWire, MessageDataIsBoundByTheLargestPacket)
{
    // Whatever arrives must fit one node packet a node accepts.
    const uint32_t saved = xGetMaxPacketSize();
    xSetMaxPacketSize(PACKET_CNODE_HEADER_SIZE + 4 + 10);
    const std::string fits = std::string(10, 'd');
    std::string m;
    EXPECT_TRUE(tvredis::EncodeMessage(m, 1, CNODE_ANY, 0, "game", fits.data(), 10));
    tvredis::Message out;
    EXPECT_TRUE(tvredis::DecodeMessage(m.data(), m.size(), out));
    m += 'd';
    EXPECT_FALSE(tvredis::DecodeMessage(m.data(), m.size(), out));
    EXPECT_FALSE(tvredis::EncodeMessage(m, 1, CNODE_ANY, 0, "game", m.data(), 11));
    xSetMaxPacketSize(saved);
}

TEST(RedisWire, NodeListRoundTripsAndRefusesWhatDoesNotAddUp)
{
    const std::vector<tvredis::NodeEntry> nodes = {{1, CNODE_CLIENT, "game"}, {42, CNODE_ANY, "lobby_3_7"}};
    const std::string good = List(nodes);
    std::vector<tvredis::NodeEntry> out;
    ASSERT_TRUE(tvredis::DecodeNodeList(good.data(), good.size(), out));
    EXPECT_EQ(out, nodes);
    ASSERT_TRUE(tvredis::DecodeNodeList(List({}).data(), 3, out));
    EXPECT_TRUE(out.empty());

    for (size_t n = 0; n < good.size(); ++n) {
        EXPECT_FALSE(tvredis::DecodeNodeList(good.data(), n, out)) << "cut at " << n;
        EXPECT_TRUE(out.empty()) << "cut at " << n;
    }
    struct Case {
        const char* what;
        std::string bytes;
    };
    std::string zeroInName = good;
    zeroInName[3 + 6 + 1] = 0;
    std::string badType = good;
    badType[3] = 9;
    std::string emptyName = List({{1, CNODE_ANY, "a"}});
    emptyName[4] = 0;
    emptyName.pop_back();
    const Case cases[] = {
        {"trailing byte", good + "x"},
        {"version", std::string("\x02", 1) + good.substr(1)},
        {"count past 4096", std::string("\x01\x10\x01", 3)},
        {"count beyond the entries", std::string("\x01\x00\x03", 3) + good.substr(3)},
        {"zero byte in a name", zeroInName},
        {"node type 9", badType},
        {"empty name", emptyName},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(tvredis::DecodeNodeList(c.bytes.data(), c.bytes.size(), out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
}

TEST(RedisWire, NodeListLeavesOutWhatCannotCross)
{
    std::vector<tvredis::NodeEntry> nodes = {
        {1, CNODE_ANY, std::string(256, 'x')}, {2, 0, "never_initialised"}, {3, CNODE_ANY, "fine"}};
    for (uint32_t i = 0; i < tvredis::kMaxNodesPerHub; ++i)
        nodes.push_back({i, CNODE_CLIENT, "n"});
    std::string list;
    uint32_t skipped = 0;
    tvredis::EncodeNodeList(list, nodes, skipped);
    EXPECT_EQ(skipped, 3u); // the long name, type 0, and the 4097th
    std::vector<tvredis::NodeEntry> out;
    ASSERT_TRUE(tvredis::DecodeNodeList(list.data(), list.size(), out));
    ASSERT_EQ(out.size(), size_t{tvredis::kMaxNodesPerHub});
    EXPECT_EQ(out[0].name, "fine");
}

TEST(RedisWire, TypesMeetAsTheCommObjectsRoute)
{
    // sender, receiver, delivered
    const uint32_t table[][3] = {
        {CNODE_ANY, CNODE_ANY, 1},
        {CNODE_ANY, CNODE_SERVER, 1},
        {CNODE_ANY, CNODE_CLIENT, 1},
        {CNODE_CLIENT, CNODE_ANY, 1},
        {CNODE_CLIENT, CNODE_SERVER, 1},
        {CNODE_CLIENT, CNODE_CLIENT, 0},
        {CNODE_SERVER, CNODE_ANY, 1},
        {CNODE_SERVER, CNODE_SERVER, 0},
        {CNODE_SERVER, CNODE_CLIENT, 1},
        {0, CNODE_ANY, 0},
        {7, CNODE_ANY, 0},
    };
    for (const auto& row : table)
        EXPECT_EQ(tvredis::TypesMeet(row[0], row[1]), row[2] == 1) << row[0] << " -> " << row[1];
}

TEST(RedisWire, HubIdsAreShortAndPlain)
{
    for (const char* id : {"h", "hub-1", "eu.west_2", "A9"})
        EXPECT_TRUE(tvredis::ValidId(id)) << id;
    for (const std::string& id : {std::string(), std::string(65, 'h'), std::string("a:b"), std::string("a b"),
                                  std::string("h*"), std::string("a\0b", 3)})
        EXPECT_FALSE(tvredis::ValidId(id)) << id;
    EXPECT_TRUE(tvredis::ValidId(std::string(64, 'h')));
}

class RedisJoinTest : public CommTest
{
};

TEST_F(RedisJoinTest, BadArgumentsAreRefused)
{
    struct Case {
        const char* address;
        const char* prefix;
        const char* hub;
    };
    const Case cases[] = {
        {nullptr, "tv", "h1"},
        {"127.0.0.1", "tv", "h1"},
        {":6379", "tv", "h1"},
        {"127.0.0.1:", "tv", "h1"},
        {"127.0.0.1:0", "tv", "h1"},
        {"127.0.0.1:65536", "tv", "h1"},
        {"127.0.0.1:63x", "tv", "h1"},
        {"127.0.0.1:6379", "", "h1"},
        {"127.0.0.1:6379", "tv", "a:b"},
        {"127.0.0.1:6379", nullptr, "h1"},
        {"127.0.0.1:6379", "tv", nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xCommNodeJoinRedis(c.address, c.prefix, c.hub), FALSE)
            << (c.address ? c.address : "(null)");
    EXPECT_EQ(xCommNodeRedisLinked(), FALSE);
    EXPECT_EQ(xCommNodeSetRedisTimes(1000, 1000), FALSE);
    EXPECT_EQ(xCommNodeSetRedisTimes(1000, 5), FALSE);
    EXPECT_EQ(xCommNodeSetRedisTimes(COMMNODE_REDIS_TTL_MS, COMMNODE_REDIS_REFRESH_MS), TRUE);
}

#if TARVEX_HAVE_HIREDIS

// A free loopback port nothing listens on.
uint16_t DeadPort()
{
    tvtest::Listener l;
    if (!l.Start())
        return 0;
    const uint16_t port = l.Port();
    l.server.Closedown();
    return port;
}

TEST_F(RedisJoinTest, AMissingRedisIsReportedAndRetriedNotFatal)
{
    const uint16_t port = DeadPort();
    ASSERT_NE(port, 0);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    tvtest::Trace().clear();
    xSetDprintfOutput(tvtest::CollectTrace);
    ASSERT_EQ(xCommNodeJoinRedis(address.c_str(), "tv", "h1"), TRUE) << LastError();
    EXPECT_EQ(xCommNodeJoinRedis(address.c_str(), "tv", "h2"), FALSE);

    // A local node registers with the bridge and sends into it: the data
    // waits for a link that does not come, and nothing fails.
    CCommNode node;
    node.SetId(1);
    node.SetName("game");
    ASSERT_EQ(node.InitCommNode(CNODE_ANY), TRUE) << LastError();
    EXPECT_EQ(node.NumCommObjects(), 1);
    ASSERT_EQ(node.SendInit(), TRUE);
    EXPECT_EQ(node.SendPacket(const_cast<char*>("x"), 1), TRUE) << LastError();
    EXPECT_TRUE(
        tvtest::Pump([] { return tvtest::Trace().find("Redis link lost") != std::string::npos; }, 500));
    xSetDprintfOutput(nullptr);
    EXPECT_NE(tvtest::Trace().find(address), std::string::npos) << tvtest::Trace();
    EXPECT_EQ(xCommNodeRedisLinked(), FALSE);
    EXPECT_EQ(xCommNodeRedisHasNode(1, "game"), FALSE);

    xCommNodeLeaveRedis();
    EXPECT_EQ(node.NumCommObjects(), 0);
    node.ExitCommNode();
}

#else

TEST_F(RedisJoinTest, WithoutHiredisTheJoinSaysSo)
{
    EXPECT_EQ(xCommNodeJoinRedis("127.0.0.1:6379", "tv", "h1"), FALSE);
    EXPECT_NE(LastError().find("without hiredis"), std::string::npos) << LastError();
}

#endif

} // namespace
