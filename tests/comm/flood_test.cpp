// Every queue a peer can fill is bounded: a raw peer floods one of them and
// the connection is dropped at its bound, the memory held staying within it.
// A hub's connection to a peer that never reads, fed by the others' node
// traffic, is dropped at its send queues' bound while the others go on.
#include "comm_util.h"
#include "proxy_util.h"

#include <tarvex/commnode.h>

#include <memory>
#include <vector>

using tvproxy::RawClient;
using tvtest::LastError;
using tvtest::Listener;

namespace
{

std::string Bytes(SXPacket* p)
{
    uint32_t n = 0;
    p->GetPacketSize(n);
    std::string s(reinterpret_cast<const char*>(p), n);
    xFreeMem(p, __FILE__, __LINE__);
    return s;
}

std::string Raw(uint32_t dataSize)
{
    std::string data(dataSize, 'r');
    return Bytes(BuildPacket(PACKET_TYPE_RAW, 0, "", 0, 0, data.data(), dataSize));
}

std::string Registration(const std::string& name)
{
    return Bytes(BuildPacket(PACKET_TYPE_CNODEREG, 1, name.c_str(), CNODE_ANY, 0, nullptr, 0));
}

std::string NodeData(const std::string& name, uint32_t dataSize)
{
    std::string data(dataSize, 'n');
    return Bytes(BuildPacket(PACKET_TYPE_CNODE, 1, name.c_str(), CNODE_ANY, 0, data.data(), dataSize));
}

// The first of a split run that never gets its rest: what comes behind it
// waits in the connection.
std::string StuckSplit()
{
    std::string h = tvtest::Header(PACKET_TYPE_SPLIT, 16) + "abcd";
    h[5] = 0; // split index
    h[6] = 0; // last index
    h[7] = 9; // split id
    return h;
}

std::string Times(const std::string& s, uint32_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (uint32_t i = 0; i < n; ++i)
        out += s;
    return out;
}

struct FloodCase {
    const char* name;
    std::string bytes;
    // What the accepted object held when it was dropped must stay within this.
    int32_t (*held)(CCommRemoteClient& c, CCommNode& node);
    int32_t bound;
};

class FloodTest : public tvtest::CommTest
{
};

TEST_F(FloodTest, EachPeerFedQueueDropsTheConnectionAtItsBound)
{
    const uint32_t big = 30u << 20;
    std::string manyNames;
    for (uint32_t i = 0; i <= COMM_OTHER_SIDE_NODES_MAX; ++i)
        manyNames += Registration("name" + std::to_string(i));
    const FloodCase cases[] = {
        {"raw queue by bytes", Times(Raw(big), 3),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumRecvQuePackets(); }, 2},
        {"raw queue by packets", Times(Raw(0), COMM_RECV_QUEUE_MAX_PACKETS + 1),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumRecvQuePackets(); },
         static_cast<int32_t>(COMM_RECV_QUEUE_MAX_PACKETS)},
        {"announced nodes", manyNames,
         [](CCommRemoteClient& c, CCommNode&) {
             int32_t n = 0;
             for (c.OtherSideNodes_First(); c.OtherSideNodes_Exists(); c.OtherSideNodes_Next())
                 ++n;
             return n;
         },
         static_cast<int32_t>(COMM_OTHER_SIDE_NODES_MAX)},
        {"node queue by bytes", Registration("flood") + Times(NodeData("flood", big), 3),
         [](CCommRemoteClient&, CCommNode& node) { return node.NumQueuedPackets(); }, 2},
        {"node queue by packets", Registration("flood") + Times(NodeData("flood", 0), COMMNODE_RECV_QUEUE_MAX_PACKETS + 1),
         [](CCommRemoteClient&, CCommNode& node) { return node.NumQueuedPackets(); },
         static_cast<int32_t>(COMMNODE_RECV_QUEUE_MAX_PACKETS)},
        {"unhandled packets by number", StuckSplit() + Times(Raw(0), COMM_TRANSFER_IN_MAX_PACKETS + 1),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumTransferIn(); },
         static_cast<int32_t>(COMM_TRANSFER_IN_MAX_PACKETS)},
        {"unhandled packets by bytes", StuckSplit() + Times(Raw(big), 3),
         [](CCommRemoteClient& c, CCommNode&) { return c.NumTransferIn(); }, 3},
    };
    for (const FloodCase& fc : cases) {
        SCOPED_TRACE(fc.name);
        auto l = std::make_unique<Listener>();
        ASSERT_TRUE(l->Start()) << LastError();
        CCommNode node;
        node.SetId(1);
        node.SetName("flood");
        node.SetInAckMode(FALSE);
        ASSERT_EQ(node.InitCommNode(CNODE_ANY), TRUE) << LastError();
        RawClient peer(l->Port());
        peer.out = fc.bytes;
        ASSERT_TRUE(l->Accept()) << LastError();
        int32_t most = 0;
        bool dropped = tvtest::Pump(
            [&] {
                peer.Step();
                most = std::max(most, fc.held(l->accepted, node));
                return l->accepted.IsConnected() == 0;
            },
            20000);
        EXPECT_TRUE(dropped) << LastError();
        EXPECT_LE(most, fc.bound);
        // The peer sees its connection closed.
        EXPECT_TRUE(tvtest::Until([&] {
            peer.Step();
            return peer.eof;
        }));
        node.ExitCommNode();
    }
}

// A hub: every accepted connection gets a comm object of its own, node
// traffic is routed between them. Each round runs every object's handler.
struct Hub : tvtest::Hub {
    Hub() { objName = "hub"; }
    // Dials a raw peer that first sends what; returns it once accepted.
    std::unique_ptr<RawClient> Join(const std::string& what, int receiveBuffer = 0)
    {
        const size_t before = accepted.size();
        auto peer = std::make_unique<RawClient>(server.GetBoundPort(), receiveBuffer);
        peer->out = what;
        if (!tvtest::Until([&] {
                server.NonBlockedHandler();
                peer->Step();
                return accepted.size() > before;
            }))
            return nullptr;
        return peer;
    }
    static bool Knows(CCommRemoteClient& c, const char* node)
    {
        for (c.OtherSideNodes_First(); c.OtherSideNodes_Exists(); c.OtherSideNodes_Next())
            if (std::strcmp(c.OtherSideNodes_Get()->name, node) == 0)
                return true;
        return false;
    }
};

struct SinkCase {
    const char* name;
    std::string flood; // node data for "sink", fed by another peer
};

TEST_F(FloodTest, HubDropsAPeerThatNeverReadsWhatOthersRouteToIt)
{
    const uint32_t big = 30u << 20;
    const SinkCase cases[] = {
        {"by bytes", Times(NodeData("sink", big), 4)},
        // Within the bytes bound; what the sockets take on the way (a few
        // MiB) comes on top.
        {"by packets", Times(NodeData("sink", 700), COMM_SEND_QUEUE_MAX_PACKETS + 12000)},
    };
    for (const SinkCase& sc : cases) {
        SCOPED_TRACE(sc.name);
        Hub hub;
        ASSERT_TRUE(hub.Start()) << LastError();
        // The sink announces its node and never reads again (a small receive
        // buffer: the hub's writes stop at once).
        auto sink = hub.Join(Registration("sink"), 4096);
        auto a = hub.Join(Registration("na"));
        auto b = hub.Join(Registration("nb"));
        // The feeder has a node of that name too: what it sends is its own.
        auto feeder = hub.Join(Registration("sink"));
        ASSERT_TRUE(sink && a && b && feeder) << LastError();
        CCommRemoteClient& sinkComm = *hub.accepted[0];
        std::vector<RawClient*> readers = {a.get(), b.get(), feeder.get()};
        std::string dropError;
        uint32_t mostBytes = 0;
        int32_t mostPackets = 0;
        auto round = [&] {
            for (RawClient* p : readers)
                p->Step();
            for (auto& c : hub.accepted) {
                if (!c->IsConnected())
                    continue;
                c->NonBlockedHandler();
                // The bound is reported where it is met (the round of the
                // connection routing into the sink).
                if (dropError.empty() && LastError().find("Send queue full") != std::string::npos)
                    dropError = LastError();
            }
            mostBytes = std::max(mostBytes, sinkComm.SendQueBytes());
            mostPackets = std::max(mostPackets, sinkComm.NumSendQuePackets() + sinkComm.NumTransferOut());
        };
        ASSERT_TRUE(tvtest::Until([&] {
            if (sink->sent < sink->out.size())
                sink->Step();
            round();
            return Hub::Knows(sinkComm, "sink") && Hub::Knows(*hub.accepted[1], "na") &&
                   Hub::Knows(*hub.accepted[2], "nb") && Hub::Knows(*hub.accepted[3], "sink");
        })) << LastError();

        feeder->out += sc.flood;
        // Rounds back to back while the flood comes in: there is always
        // something to move.
        bool dropped = false;
        for (int i = 0; i < 400000 && !dropped; ++i) {
            round();
            dropped = sinkComm.IsConnected() == 0;
        }
        EXPECT_TRUE(dropped) << LastError() << " queued " << mostPackets << " packets, " << mostBytes << " bytes";
        EXPECT_NE(dropError.find("limit 65536 packets, 67108864 bytes"), std::string::npos) << dropError;
        EXPECT_LE(mostBytes, COMM_SEND_QUEUE_MAX_BYTES);
        EXPECT_LE(mostPackets, static_cast<int32_t>(COMM_SEND_QUEUE_MAX_PACKETS));
        EXPECT_EQ(sinkComm.SendQueBytes(), 0u);

        // The others go on: a and b exchange node data through the hub.
        const std::string toB = NodeData("nb", 100), toA = NodeData("na", 50);
        a->out += toB;
        b->out += toA;
        EXPECT_TRUE(tvtest::Until([&] {
            round();
            return b->in.find(toB) != std::string::npos && a->in.find(toA) != std::string::npos;
        })) << LastError();
        for (size_t i = 1; i < hub.accepted.size(); ++i)
            EXPECT_EQ(hub.accepted[i]->IsConnected(), 1) << i;
    }
}

// A peer that reads, however slowly, takes a burst routed to it without
// being dropped.
TEST_F(FloodTest, HubKeepsASlowReaderThroughABurst)
{
    Hub hub;
    ASSERT_TRUE(hub.Start()) << LastError();
    auto reader = hub.Join(Registration("slow"), 4096);
    auto feeder = hub.Join(Registration("slow"));
    ASSERT_TRUE(reader && feeder) << LastError();
    auto round = [&] {
        feeder->Step();
        for (auto& c : hub.accepted)
            if (c->IsConnected())
                c->NonBlockedHandler();
    };
    ASSERT_TRUE(tvtest::Until([&] {
        reader->Step();
        round();
        return Hub::Knows(*hub.accepted[0], "slow");
    }));
    const std::string one = NodeData("slow", 16u << 10);
    const uint32_t count = 512; // 8 MiB at once
    feeder->out += Times(one, count);
    const size_t want = reader->in.size() + one.size() * count;
    // The reader takes a little at a time, a step every few rounds.
    int turn = 0;
    EXPECT_TRUE(tvtest::Until(
        [&] {
            round();
            if (++turn % 2 == 0)
                reader->Step();
            return reader->in.size() >= want || !hub.accepted[0]->IsConnected();
        },
        20000));
    EXPECT_EQ(hub.accepted[0]->IsConnected(), 1) << LastError();
    EXPECT_GE(reader->in.size(), want);
}

} // namespace
